// Command-line options of kiru-grab.
#pragma once

#include <string>

struct GrabOptions {
    std::string keyword = "EMULATOR";
    std::string images;      // image folder for the emulator; empty: bundled samples
    std::string station;     // simulated station file (or bundled sample name) for hardware keywords
    std::string saveDir;     // where delivered frames are written as BMP files
    unsigned frames = 0;     // stop after this many delivered frames (0: run for `seconds`)
    double seconds = 3.0;    // how long to acquire when no frame count is given
    std::string trigger = "free";  // "free" or "soft"
    double rate = 10.0;      // software triggers per second
    unsigned delayMs = 0;    // frame delay; 0 keeps the back-end's default
    bool mirror = false;
    bool flip = false;
    unsigned rotate = 0;     // degrees clockwise
    bool color = false;      // acquire 24-bit colour instead of 8-bit grey
    unsigned buffers = 5;
    bool async = false;      // asynchronous mode: each camera's frames on their own (buffer-ex callback)
    bool quiet = false;      // no progress line
};

// Parses argv. Returns -1 to go on, otherwise the exit status to end with
// (0 after --help, 2 after a bad argument, with the message printed).
int ParseOptions(int argc, char** argv, GrabOptions& options);
