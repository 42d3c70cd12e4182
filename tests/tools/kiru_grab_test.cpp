// Drives kiru-grab as a user would and checks what it prints and saves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/child_process.h"

#ifndef KIRU_GRAB
#define KIRU_GRAB KIRU_BINARY_DIR "/tools/kiru-grab"  // a build without the tools
#endif

namespace fs = std::filesystem;

namespace {

using kiru_test::ProgramRun;

// Runs kiru-grab with `args` split at blanks as a shell would, where ''
// stands for an empty argument; its exit code and output, errors included.
ProgramRun RunTool(const std::string& args) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (const char c : args) {
        if (c == '\'') {
            quoted = !quoted;
            inWord = true;
        } else if (c == ' ' && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return kiru_test::RunProgram(KIRU_GRAB, words);
}

unsigned Number(const std::string& out, const std::string& key) {
    const std::size_t at = out.find(key + ": ");
    if (at == std::string::npos) return ~0u;
    return static_cast<unsigned>(std::strtoul(out.c_str() + at + key.size() + 2, nullptr, 10));
}

// Little-endian header fields read from an unaligned byte buffer.
template <typename T>
T Field(const char* bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

class KiruGrabTool : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kiru_grab_test_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

// The bundled samples through the emulator, also turned and under software
// triggers: every delivered frame is saved as a BMP file of the reported size.
TEST_F(KiruGrabTool, PlaysBundledSamplesAndSavesDeliveredFrames) {
    const struct {
        const char* args;
        unsigned frames;
        const char* geometry;
        std::int32_t width, height;
    } cases[] = {{"-n 8", 8, "geometry: 320 x 240, 8 bits per pixel, 5 buffers", 320, 240},
                 {"-n 2 --rotate 90", 2, "geometry: 240 x 320", 240, 320},
                 {"-n 3 --trigger soft --rate 50", 3, "geometry: 320 x 240", 320, 240}};
    for (const auto& c : cases) {
        const fs::path out = dir_ / std::to_string(&c - cases);
        const ProgramRun run = RunTool(std::string("-q ") + c.args + " --save " + out.string());
        ASSERT_EQ(run.status, 0) << c.args << "\n" << run.out;
        EXPECT_NE(run.out.find("grab type: 3 (emulator)"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(c.geometry), std::string::npos) << run.out;
        const unsigned delivered = Number(run.out, "frames delivered");
        EXPECT_GE(delivered, c.frames) << c.args;
        EXPECT_EQ(Number(run.out, "frames trashed"), 0u) << c.args;
        unsigned files = 0;
        for (const auto& entry : fs::directory_iterator(out)) {
            std::ifstream f(entry.path(), std::ios::binary);
            char head[30];
            ASSERT_TRUE(f.read(head, sizeof head));
            EXPECT_EQ(std::string(head, 2), "BM");
            EXPECT_EQ(Field<std::int32_t>(head, 18), c.width) << c.args;
            EXPECT_EQ(Field<std::int32_t>(head, 22), c.height) << c.args;
            EXPECT_EQ(Field<std::int16_t>(head, 28), 8);
            ++files;
        }
        EXPECT_EQ(files, delivered) << c.args;
    }
}

// The bundled sample stations run the GigE back-end: every camera delivers,
// in either mode and under software triggers, and nothing is lost.
TEST_F(KiruGrabTool, SampleStationsRunTheGigeBackEnd) {
    struct Case {
        const char* args;
        int cameras;
        const char* mode;
    };
    const Case cases[] = {
        {"--station one_camera.ini", 1, "synchronous"},
        {"--station two_cameras_trx", 2, "synchronous"},
        {"--station two_cameras_trx --async", 2, "asynchronous"},
        {"--station two_cameras_trx --trigger soft --rate 20", 2, "synchronous"},
        {"--station " KIRU_SOURCE_DIR "/samples/stations/bayer_colour.ini", 1, "synchronous"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = RunTool(std::string("-q -n 6 --keyword MARLO ") + c.args);
        ASSERT_EQ(run.status, 0) << c.args << "\n" << run.out;
        EXPECT_NE(run.out.find("grab type: 8 (GigE)"), std::string::npos) << c.args << "\n" << run.out;
        EXPECT_NE(run.out.find(std::string("mode: ") + c.mode), std::string::npos) << c.args << "\n" << run.out;
        EXPECT_EQ(Number(run.out, "cameras"), static_cast<unsigned>(c.cameras)) << c.args;
        EXPECT_EQ(Number(run.out, "frames lost"), 0u) << c.args;
        EXPECT_EQ(Number(run.out, "acquire events"), 0u) << c.args;
        for (int camera = 0; camera < c.cameras; ++camera) {
            const unsigned frames = Number(run.out, "camera " + std::to_string(camera));
            EXPECT_GE(frames, 1u) << c.args << " camera " << camera << "\n" << run.out;
            EXPECT_LT(frames, ~0u) << c.args;
        }
    }
}

// A camera whose cable is pulled for a moment is reported lost and reopened.
TEST_F(KiruGrabTool, AcquireEventsOfALostCameraAreShown) {
    const std::string station = (dir_ / "outage.ini").string();
    std::ofstream(station) << "[GEV]\nWidth = 64\nHeight = 48\nOutage = 3 300\n";
    const ProgramRun run = RunTool("-q -n 8 --delay 20 --keyword MARLO --station " + station);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_GE(Number(run.out, "acquire events"), 2u) << run.out;
    EXPECT_NE(run.out.find("  camera lost: camera 0\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  camera reopened\n"), std::string::npos) << run.out;
    EXPECT_GE(Number(run.out, "frames delivered"), 8u) << run.out;
}

// The appliance sample stations run the board back-ends, found by module
// enumeration.
TEST_F(KiruGrabTool, ApplianceSampleStationsRunTheBoardBackEnds) {
    const struct {
        const char* station;
        const char* shown;
    } cases[] = {{"lx2.ini", "grab type: 0 (LX2 board)"}, {"qb2", "grab type: 5 (QB2 board)"}};
    for (const auto& c : cases) {
        const ProgramRun run = RunTool(std::string("-q -n 3 --delay 20 --keyword '' --station ") + c.station);
        ASSERT_EQ(run.status, 0) << c.station << "\n" << run.out;
        EXPECT_NE(run.out.find(c.shown), std::string::npos) << run.out;
        EXPECT_GE(Number(run.out, "frames delivered"), 3u) << run.out;
    }
}

TEST_F(KiruGrabTool, ExitStatusAndMessages) {
    // A station whose modules have no back-end in the library: the factory
    // enumerates them and falls back to the emulator. Bad station lines are
    // named with their file and line, whatever the keyword.
    const std::string station = (dir_ / "station.ini").string(), bad = (dir_ / "bad.ini").string(),
                      typo = (dir_ / "typo.ini").string();
    std::ofstream(station) << "[XYZ]\nModuleInfo = 1\n[ABC]\nModuleInfo = 2\n";
    std::ofstream(bad) << "[XYZ]\nnot a key value line\n";
    std::ofstream(typo) << "[GEV]\nWidht = 640\n";
    const struct {
        std::string args;
        int status;
        std::string shown;
    } cases[] = {
        {"-q -n 1 --keyword MARLO", 0, "no hardware answered for keyword \"MARLO\": using the emulator"},
        {"-q -n 1 --keyword '' --station " + station, 0, "grab type: 3 (emulator)"},
        {"-q -n 1 --keyword '' --station " + bad, 2, "kiru-grab: " + bad + ":2:"},
        {"-q -n 1 --station " + typo, 2, "kiru-grab: " + typo + ":2: unknown key 'Widht'"},
        {"--station " + (dir_ / "missing.ini").string(), 2, "kiru-grab:"},
        {"--help", 0, "--save"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = RunTool(c.args);
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.out;
        EXPECT_NE(run.out.find(c.shown), std::string::npos) << c.args << "\n" << run.out;
        if (c.status == 2) {
            EXPECT_EQ(run.out.find("frames delivered"), std::string::npos) << c.args;
        }
    }
    for (const char* args : {"--bogus", "--trigger sometimes", "--rotate 400", "--buffers 1", "--mirror --flip",
                             "--images /no/such/folder"}) {
        const ProgramRun run = RunTool(args);
        EXPECT_EQ(run.status, 2) << args << "\n" << run.out;
        EXPECT_NE(run.out.find("kiru-grab:"), std::string::npos) << args;
    }
}

}  // namespace
