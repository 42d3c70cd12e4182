// kiru-grab: a command-line client of the Kiru library. It opens a grab
// object (the emulator on the bundled samples by default), acquires frames,
// shows progress and reports what arrived.
#include "options.h"
#include "session.h"

int main(int argc, char** argv) {
    GrabOptions options;
    const int status = ParseOptions(argc, argv, options);
    if (status >= 0) return status;
    return RunSession(options);
}
