#include "options.h"

#include <CLI/CLI.hpp>
#include <iostream>

int ParseOptions(int argc, char** argv, GrabOptions& o) {
    CLI::App app{"kiru-grab: acquire frames through Kiru and report what arrived.\n"
                 "With no arguments it plays the bundled sample images through the emulator for a few seconds."};
    app.add_option("-k,--keyword", o.keyword, "Grab-type keyword passed to KiruGrabInstantiate")->capture_default_str();
    app.add_option("-i,--images", o.images, "Folder of BMP files for the emulator (default: bundled samples)")
        ->check(CLI::ExistingDirectory);
    app.add_option("--station", o.station,
                   "Simulated station file (INI) for hardware keywords, or the name of a bundled sample station");
    app.add_option("-n,--frames", o.frames, "Stop after this many delivered frames (0: run for --seconds)");
    app.add_option("-s,--seconds", o.seconds, "Acquisition time when no frame count is given")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("-t,--trigger", o.trigger, "Trigger mode: free (free-running) or soft (software triggers)")
        ->check(CLI::IsMember({"free", "soft"}))
        ->capture_default_str();
    app.add_option("-r,--rate", o.rate, "Software triggers per second (with --trigger soft)")
        ->check(CLI::Range(0.1, 1000.0))
        ->capture_default_str();
    app.add_option("-d,--delay", o.delayMs, "Frame delay in milliseconds (free-running)");
    app.add_flag("--mirror", o.mirror, "Mirror delivered frames (reverse each row)");
    app.add_flag("--flip", o.flip, "Flip delivered frames (reverse the row order)");
    app.add_option("--rotate", o.rotate, "Rotate delivered frames clockwise by this many degrees")
        ->check(CLI::Range(0u, 359u));
    app.add_flag("--color", o.color, "Acquire 24-bit colour frames instead of 8-bit grey");
    app.add_option("-b,--buffers", o.buffers, "Frames in the ring (2 to 60)")
        ->check(CLI::Range(2u, 60u))
        ->capture_default_str();
    app.add_option("--save", o.saveDir, "Save every delivered (transformed) frame as a BMP file in this folder");
    app.add_flag("--async", o.async,
                 "Asynchronous mode: every camera's frames are delivered on their own (buffer-ex callback)");
    app.add_flag("-q,--quiet", o.quiet, "No progress line");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "kiru-grab: " << e.what() << "\nRun with --help for the options.\n";
        return 2;
    }
    if (o.mirror && o.flip) {
        std::cerr << "kiru-grab: --mirror and --flip cannot be combined\n";
        return 2;
    }
    return -1;
}
