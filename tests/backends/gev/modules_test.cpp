// GigE modules: camera discovery and its stop and skip rules, what Initialize
// sends to cameras and I/O controllers, tiling, the queries, the marker-file
// route and reopening. The cameras' static address entries are
// the system's own on Windows: posix/ and win32/ test them.
#include <kiru/cios.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "backends/gev/gev_fixture.h"
#include "support/env_sandbox.h"

namespace kiru_test {
namespace {

struct DiscoveryCase {
    const char* what;
    std::string station;
    int cameras;
    std::vector<std::pair<ULONG, int>> openModules;  // GEV index, open module objects
    std::vector<std::string> traced;
};

TEST_F(GevTest, DiscoveryStopsAtAMismatchSkipsOtherFormatsAndRepacksRawColour) {
    // clang-format off
    const DiscoveryCase cases[] = {
        {"size mismatch", Camera(0) + "[GEV:1]\nWidth = 32\nHeight = 48\n" + Camera(2), 1, {{1, 1}, {2, 0}}, {}},
        {"raw colour", Camera(0, "ColorFormat = 13\nBitsPerPixel = 32\nBytesPerPixel = 4\n"), 1, {{0, 1}},
         {"GEV:0/0 SetAcqParam 57 4 0"}},
        {"3-byte colour skipped", Camera(0) + Camera(1, "ColorFormat = 5\n") + Camera(2), 2, {{1, 0}, {2, 1}}, {}},
    };
    // clang-format on
    for (const DiscoveryCase& c : cases) {
        SCOPED_TRACE(c.what);
        Open(c.station);
        EXPECT_EQ(grab->GetNumCameras(), c.cameras);
        for (const auto& [index, open] : c.openModules)
            EXPECT_EQ(Station::OpenModuleCount("GEV", index), open) << index;
        for (const std::string& line : c.traced) EXPECT_TRUE(Traced(line)) << line;
        grab.reset();
        EXPECT_EQ(Station::OpenModuleCount("GEV", 0), 0);
    }
    Open(Camera(0) + Camera(1, "ColorFormat = 5\n") + Camera(2));
    char name[MAX_PATH];
    EXPECT_EQ(grab->GetCameraDesc(1, name), 1);
    EXPECT_STREQ(name, "SimCam-GEV2");
    EXPECT_EQ(grab->GetCameraDesc(2, name), 0);
    EXPECT_STREQ(name, "");
}

struct DelayCase {
    const char* what;
    std::string station;
    int maxTrigFreq;
    std::vector<std::string> traced, absent;
};

TEST_F(GevTest, PacketSizeAndInterPacketDelay) {
    // clang-format off
    const DelayCase cases[] = {
        {"small packets become jumbo", Camera(0, "Param.0x4012 = 1550\n"), 0,
         {"GEV:0/0 SetAcqParam 16402 8228 0", "GEV:0/0 WriteReg 3336 0"}, {}},
        {"larger packets stay", Camera(0, "Param.0x4012 = 1551\n"), 0, {}, {"GEV:0/0 SetAcqParam 16402 8228 0"}},
        {"cameras on one subnet", Camera(0) + Camera(1), 0, {"GEV:0/0 WriteReg 3336 76", "GEV:1/0 WriteReg 3336 76"}, {}},
        {"cameras on two subnets", Camera(0) + Camera(1, "Text.0x400E = 10.1.0.5\n"), 0,
         {"GEV:0/0 WriteReg 3336 0", "GEV:1/0 WriteReg 3336 0"}, {}},
        {"a delay already set", Camera(0, "Reg.0x0D08 = 5\n"), 0, {}, {"GEV:0/0 WriteReg 3336 0"}},
        {"from the trigger frequency", Camera(0, "Reg.0x0D08 = 5\n"), 10, {"GEV:0/0 WriteReg 3336 240152"}, {}},
    };
    // clang-format on
    for (const DelayCase& c : cases) {
        SCOPED_TRACE(c.what);
        Load(c.station);
        grab = std::make_unique<ProbeGev>();
        grab->SetMaxTrigFreq(c.maxTrigFreq);
        ASSERT_EQ(grab->Initialize(), 1);
        for (const std::string& line : c.traced) EXPECT_TRUE(Traced(line)) << line;
        for (const std::string& line : c.absent) EXPECT_FALSE(Traced(line)) << line;
    }
}

struct ControllerCase {
    const char* what;
    std::string station;
    std::vector<std::string> bringUp;  // in this order
    ULONG event;                       // the solution-change interrupt
    std::vector<std::string> onChange;
    unsigned solution;  // what the change-solution callback receives
    int gpoLine;        // a seeded output record (-1: none)
    ULONG offset;
    IFW_GPO_DRIVER driver;
};

std::vector<std::string> OutputLines(const char* values) {
    std::vector<std::string> lines;
    std::istringstream in(values);
    for (std::string v; std::getline(in, v, ',');) lines.push_back("GEV:0/0 SetAcqParam " + v);
    return lines;
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

int OnSolution(unsigned char*, unsigned int value, std::int64_t, void* context) {
    static_cast<std::atomic<int>*>(context)->store(static_cast<int>(value) + 1000);
    return 0;
}

TEST_F(GevTest, InitializeBringsUpEachControllerAndItsSolutionInterrupt) {
    const auto controllerOutputs = OutputLines("16393 1 0,16394 1 0,16395 0 0,16396 1 0,16397 1000 0");
    // clang-format off
    const ControllerCase cases[] = {
        {"GIO", "[GIO]\nModuleInfo = 1\n",
         Join({"GIO:0 WriteOutputPort 0 7", "GIO:0/0 SetAcqParam 83 200 0", "GIO:0/1 SetAcqParam 83 200 0"},
              OutputLines("16393 1 1,16394 1 1,16396 1 1,16397 100 1,16393 0 1,16393 0 0")),
         3, {"GIO:0 WriteOutputPort 1 7", "GIO:0 WriteOutputPort 0 7"}, 0, -1, 0, IFW_GPO_DRIVER_PLAIN},
        {"TRX", "[TRX]\n", Join({"TRX:0 WriteOutputPort 0 17"}, controllerOutputs), 28,
         {"TRX:0 WriteOutputPort 1 17", "TRX:0 WriteOutputPort 0 17"}, 0, 0, 60000, IFW_GPO_DRIVER_PASS_QUEUED},
        {"RCS", "[RCS]\nModuleParam.93 = 0x300\n", Join({"RCS:0 WriteOutputPort 0 10"}, controllerOutputs), 29,
         {"RCS:0 SetModuleParam 93 832"}, 3, 3, 60000, IFW_GPO_DRIVER_STROBE},
        {"USB", "[USB]\n", controllerOutputs, 7, {}, 0, 0, 80000, IFW_GPO_DRIVER_PASS_IMMEDIATE},
        {"QBM", "[QBM]\nModuleInfo = 1\n",
         {"QBM:0/0 SetAcqParam 16412 0 0", "QBM:0/0 SetAcqParam 16414 200 0", "QBM:0/0 SetAcqParam 16419 200 0",
          "QBM:0/0 SetAcqParam 16397 0 0", "QBM:0 WriteOutputPort 0 34", "QBM:0 WriteOutputPort 0 16",
          "QBM:0 EnableModuleIo 1 1", "GEV:0/0 SetAcqParam 16397 100 1"},
         16, {"QBM:0 WriteOutputPort 0 18", "QBM:0 WriteOutputPort 1 18"}, 0, -1, 0, IFW_GPO_DRIVER_PLAIN},
        {"none", "", OutputLines("16393 1 0,16394 1 0,16396 1 0,16397 100 0,16393 0 0,16393 0 1"), 0, {}, 0, -1, 0,
         IFW_GPO_DRIVER_PLAIN},
    };
    // clang-format on
    for (const ControllerCase& c : cases) {
        SCOPED_TRACE(c.what);
        Open(Camera(0) + c.station);
        EXPECT_TRUE(TracedInOrder(c.bringUp));
        if (c.gpoLine >= 0) {
            IFW_GPO_CONFIG out{};
            grab->GetGPOConfig(static_cast<ULONG>(c.gpoLine), &out);
            EXPECT_EQ(out.Offset, c.offset);
            EXPECT_EQ(out.Driver, c.driver);
        }
        if (c.event == 0) continue;
        std::atomic<int> solution{-1};
        grab->RegisterChangeSolutionCallback(&OnSolution, &solution);
        Station::ClearTrace();
        ASSERT_TRUE(Station::FireEvent(c.station.substr(1, 3), 0, c.event));
        EXPECT_TRUE(WaitUntil([&] { return solution.load() >= 1000; }));
        EXPECT_EQ(solution.load(), static_cast<int>(c.solution) + 1000);
        EXPECT_TRUE(WaitUntil([&] { return TracedInOrder(c.onChange); }));
    }
}

std::vector<std::string> g_told;
int Tell(void*, char* message) {
    g_told.emplace_back(message);
    return 0;
}

TEST_F(GevTest, WithoutEnoughCamerasInitializeFailsAndOnlyAnUnsetCountAsksForAModule) {
    for (const int explicitCount : {0, 1, 2}) {  // 2: more than the one camera there is
        Load(explicitCount == 2 ? Camera(0) : "");
        g_told.clear();
        ProbeGev gev;
        gev.SetDbgCatcher(&Tell, nullptr);
        gev.SetNumCameras(explicitCount);
        EXPECT_EQ(gev.Initialize(), 0);
        EXPECT_EQ(g_told.size(), explicitCount == 0 ? 1u : 0u);
        if (!g_told.empty()) {
            EXPECT_EQ(g_told[0], "No Module: Specified Image Capture Module not detected.");
        }
        EXPECT_EQ(Station::OpenModuleCount("GEV", 0), 0);
    }
}

TEST_F(GevTest, TilesQueriesCreateAndActiveCamera) {
    ProbeGev early;
    EXPECT_EQ(early.Create(0, 0, 64, 48, 8, 3, 5000), 0);
    EXPECT_STREQ(early.LastError(), "CIGrab::Create: Grab not initialized");

    // Tiles follow the cameras found; a mosaic is one image.
    for (const ULONG tiles : {1u, 3u}) {
        Load(Camera(0) + Camera(1));
        grab = std::make_unique<ProbeGev>();
        grab->SetTiling(4 - tiles, tiles);
        ASSERT_EQ(grab->Initialize(), 1);
        EXPECT_EQ(grab->GetHorzTiles() * 10 + grab->GetVertTiles(), tiles == 3 ? 12u : 21u);
        EXPECT_EQ(grab->GetNumCameras(), 1);
    }
    Open(Camera(0, "Param.22 = 8\nParam.24 = 4\n") + Camera(1) + "[GIO]\nModuleInfo = 2\n");
    EXPECT_EQ(Station::GigeOpenCount() * 10 + Station::GigeCloseCount(), 11);  // the transport around discovery
    ASSERT_EQ(grab->Create(0, 0, 64, 48, 8, 3, 5000), 1);
    EXPECT_EQ(grab->GetOffsetX(), 8u);
    EXPECT_EQ(grab->GetOffsetY(), 4u);
    EXPECT_EQ(grab->GetNumAsyncCameras(), 0);
    grab->SetASyncMode(1);
    EXPECT_EQ(grab->GetNumAsyncCameras(), 2);
    const std::pair<IFW_COMPORT_KIND, int> ports[] = {
        {IFW_COMPORT_KIND_1, 2}, {IFW_COMPORT_KIND_0, 1}, {IFW_COMPORT_KIND_100, 0}, {IFW_COMPORT_KIND_101, 0}};
    for (const auto& [kind, port] : ports) EXPECT_EQ(grab->GetCommPortNum(0, kind), port) << kind;
    EXPECT_EQ(grab->SetActiveCamera(1, 0), 1);
    EXPECT_EQ(grab->GetActiveCamera(), 1);
    EXPECT_EQ(grab->SetActiveCamera(2, 0), 0);
    EXPECT_EQ(grab->GetActiveCamera(), 1);
}

TEST_F(GevTest, TerminateReleasesPulseGeneratorsAndClearsControllerLines) {
    Open(Camera(0) + "[RCS]\n");
    IFW_GPO_CONFIG pass{1, 30000, 1000, IFW_GPO_DRIVER_PASS_QUEUED, 0};
    grab->SetGPOConfig(0, &pass);
    ASSERT_TRUE(Traced("RCS:0 CreatePulseGenUnitEx 0 1000 1 0 30000"));
    grab->Terminate();
    EXPECT_TRUE(Traced("RCS:0 DeletePulseGenUnit 0"));
    Open(Camera(0) + "[TRX]\n[USB]\n");
    grab->Terminate();
    EXPECT_TRUE(TracedInOrder({"TRX:0/0 SetAcqParam 16385 0 0", "TRX:0/1 SetAcqParam 16385 0 3",
                               "USB:0/0 SetAcqParam 16385 0 0", "USB:0/3 SetAcqParam 16385 0 1"}));
}

TEST_F(GevTest, MarkerFilesInTheClientFolderNameTheModulesConfiguration) {
    EnvSandbox sandbox;
    const std::string root = sandbox.Create("gev-marker");
    ASSERT_TRUE(sandbox.Enter(root, root, root));
    char marker[MAX_PATH];
    CiOS::AppDataPathOnce(marker, "VistorClient", "gevtest.txt");
    std::filesystem::create_directories(std::filesystem::path(marker).parent_path());
    std::ofstream(marker) << "\n";
    Open(Camera(0) + Camera(1) + "[TRX]\n");
    EXPECT_EQ(Station::ConfigFile("GEV", 0), marker);
    EXPECT_EQ(Station::ConfigFile("TRX", 0), "trxtest.txt");
    grab.reset();
    EXPECT_TRUE(sandbox.Leave());
}

TEST_F(GevTest, OneCameraIsReopenedAtMostEverySevenSecondsAllCamerasAlways) {
    Open(Camera(0));
    grab->DeleteModules(0);
    // Another test may have reopened a camera moments ago: the guard is process-wide.
    EXPECT_TRUE(WaitUntil([&] { return grab->ReCreateModules(0) == 1; }));
    grab->DeleteModules(0);
    EXPECT_EQ(grab->ReCreateModules(0), 0);
    EXPECT_EQ(Station::OpenModuleCount("GEV", 0), 0);
    EXPECT_EQ(grab->ReCreateModules(-1), 1);
    EXPECT_EQ(Station::OpenModuleCount("GEV", 0), 1);
}

}  // namespace
}  // namespace kiru_test
