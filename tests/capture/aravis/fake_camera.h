// Aravis's fake GigE Vision camera on 127.0.0.1, started and stopped by the
// tests. They run only in a private network namespace (in_netns.sh): a test
// that finds another network interface up skips instead of talking GigE
// Vision where a real network could hear it.
#pragma once

#include <sys/types.h>

#include <string>

namespace kiru_test {

// Empty when every interface that is up is a loopback one; else why not.
std::string NotInPrivateNamespace();

class FakeCamera {
public:
    FakeCamera() = default;
    ~FakeCamera() { Stop(); }
    FakeCamera(const FakeCamera&) = delete;
    FakeCamera& operator=(const FakeCamera&) = delete;

    // Starts the camera and waits until it answers; false on failure.
    bool Start();
    // Ends the camera process (as a pulled cable would).
    void Stop();
    bool Running() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};

// Runs a shell command; its standard output (and exit status in *status).
std::string Run(const std::string& command, int* status = nullptr);

// A feature or register of the camera at 127.0.0.1 as arv-tool reads it,
// e.g. Control("ExposureTimeAbs") -> "10000", Control("R[0x0D08]") -> "0x00000000".
std::string Control(const std::string& what);

}  // namespace kiru_test
