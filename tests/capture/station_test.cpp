// Station files, module enumeration, module creation and the trace.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "station_fixture.h"

using kiru::sim::Station;

namespace {

using StationFileTest = kiru::test::StationTest;

std::vector<std::string> EnumeratedNames() {
    std::vector<std::string> names;
    CQMTMods mods;
    for (_QMT_PARENT_MOD* m = mods.GetFirst(); m; m = mods.GetNext()) names.emplace_back(m->Name);
    return names;
}

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

std::string TempPath(const char* name) { return ::testing::TempDir() + name; }

}  // namespace

TEST_F(StationFileTest, BadLinesNameFileAndLineAndLoadNothing) {
    Load("[LXP]\n");
    const std::pair<const char*, const char*> cases[] = {
        {"[GEV:0]\nWidth = 640\nWidht = 480\n", "bad.ini:3: unknown key 'Widht'"},
        {"Width = 1\n", "bad.ini:1: key outside a module section"},
        {"[GEV:x]\n", "bad.ini:1: bad module index in '[GEV:x]'"},
        {"[LONG]\n", "bad.ini:1: module name must have 1 to 3 characters: '[LONG]'"},
        {"[GEV]\n[GEV:0]\n", "bad.ini:2: duplicate section [GEV:0]"},
        {"[GEV]\n# c\nParam.10 = six\n", "bad.ini:3: bad value 'six' for Param.10"},
        {"[GEV]\nCaps.58 = 10\n", "bad.ini:2: bad value '10' for Caps.58 (expected MIN MAX)"},
        {"[GEV]\nReg.0xZZ = 1\n", "bad.ini:2: bad number in key 'Reg.0xZZ'"},
        {"[TRX]\nChannels = 1\nCh1.Param.3 = 1\n", "bad.ini:3: channel 1 out of range (Channels = 1)"},
        {"[TRX]\nCh3.Param.3 = 1\nChannels = 2\n", "bad.ini:3: Channels = 2 but channel 3 is described"},
        {"[GEV]\nWidth 640\n", "bad.ini:2: expected KEY = VALUE: 'Width 640'"},
        {"[GEV]\nImage = /no/such/file.bmp\n", "bad.ini:2: /no/such/file.bmp: cannot open the file"},
        {"[GEV]\nText.67 = \"open\n", "bad.ini:2: unterminated quote: 'Text.67 = \"open'"},
        {"[GEV]\nWidth = 010x\n", "bad.ini:2: bad value '010x' for Width"},
        {"[GEV]\nWidth = 4294967296\n", "bad.ini:2: bad value '4294967296' for Width"},
        {"[GEV]\nParam.1 = nan\n", "bad.ini:2: bad value 'nan' for Param.1"},
        {"[GEV]\nTriggerCameras = 1\n", "bad.ini:2: TriggerCameras belongs to TRX, RCS and USB channels"},
        {"[TRX]\nCh1.TriggerCameras = 1 8\n",
         "bad.ini:2: bad value '1 8' for Ch1.TriggerCameras (expected none or GEV indices 0 to 7)"},
        {"[GEV]\nGainUnit = -2\n", "bad.ini:2: bad value '-2' for GainUnit (expected linear, dB, off or a number)"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(Station::LoadText(c.first, "bad.ini", &error));
        EXPECT_EQ(error, c.second);
    }
    // The station loaded before is still in place.
    EXPECT_EQ(EnumeratedNames(), std::vector<std::string>{"LXP"});

    const std::string path = TempPath("station_bad.ini");
    std::ofstream(path) << "[QBM]\nModuleInfo = 0x1q\n";
    std::string error;
    EXPECT_FALSE(Station::LoadFile(path, &error));
    EXPECT_EQ(error, path + ":2: bad value '0x1q' for ModuleInfo");
    EXPECT_FALSE(Station::LoadFile(TempPath("missing.ini"), &error));
    EXPECT_EQ(error, TempPath("missing.ini") + ": cannot open the station file");
    std::ofstream(path) << "; a station\n[QBM]\nModuleInfo = 0x1\n";
    ASSERT_TRUE(Station::LoadFile(path, &error)) << error;
    EXPECT_EQ(Station::Source(), path);
    EXPECT_EQ(EnumeratedNames(), std::vector<std::string>{"QBM"});
}

TEST_F(StationFileTest, EnumerationFollowsTheFileAndModulesOpenAsTheirKind) {
    EXPECT_EQ(EnumeratedNames(), std::vector<std::string>{});
    Load("[AB]\n[QBM:0]\nModuleInfo = 5\n[GEV]\n[TRX]\n[RCS]\n[USB:2]\n[GIO]\n[LXP:1]\n");
    EXPECT_EQ(EnumeratedNames(), (std::vector<std::string>{"AB", "QBM", "GEV", "TRX", "RCS", "USB", "GIO", "LXP"}));
    CQMTMods mods;
    _QMT_PARENT_MOD* first = mods.GetFirst();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::memcmp(first->Name, "AB\0", 4), 0);  // names are four bytes
    EXPECT_EQ(mods.GetNext()->ModuleInfo, 5u);
    for (int i = 0; i < 5; ++i) mods.GetNext();
    _QMT_PARENT_MOD* lxp = mods.GetNext();
    EXPECT_EQ(std::memcmp(lxp->Name, "LXP", 4), 0);
    EXPECT_EQ(lxp->Index, 1u);
    EXPECT_EQ(mods.GetNext(), nullptr);
    EXPECT_EQ(mods.GetNext(), nullptr);

    const std::pair<const char*, ULONG> absent[] = {{"GEV", 1}, {"USB", 0}, {"QBM", 1}, {"XY", 0}};
    for (const auto& a : absent) EXPECT_EQ(OrxCreateCaptureModule(a.first, a.second, nullptr), nullptr) << a.first;
    EXPECT_EQ(OrxCreateCaptureModule(nullptr, 0, nullptr), nullptr);
    std::unique_ptr<CICapMod> gev(OrxCreateCaptureModule("GEV", 0, "gevtest.txt"));
    ASSERT_NE(gev, nullptr);
    EXPECT_NE(dynamic_cast<CGige*>(gev.get()), nullptr);
    EXPECT_STREQ(gev->ModName(), "GEV");
    EXPECT_STREQ(gev->ConfigFile(), "gevtest.txt");
    EXPECT_EQ(Station::ConfigFile("GEV", 0), "gevtest.txt");
    EXPECT_NE(gev->GetCam(0), nullptr);
    EXPECT_EQ(gev->GetCam(1), nullptr);
    CICapMod* trx = Open("TRX");
    EXPECT_NE(dynamic_cast<CTRXCam*>(trx->GetCam(1)), nullptr);
    EXPECT_EQ(trx->GetCam(2), nullptr);
    EXPECT_NE(dynamic_cast<CRCS*>(Open("RCS")), nullptr);
    CICapMod* usb = Open("USB", 2);
    EXPECT_NE(dynamic_cast<CUSBCam*>(usb->GetCam(3)), nullptr);
    EXPECT_EQ(usb->ModIndex(), 2u);
    EXPECT_NE(Open("GIO")->GetCam(1), nullptr);
    EXPECT_EQ(Open("AB")->GetCam(0), nullptr);

    Station::Reset();
    EXPECT_EQ(mods.GetFirst(), nullptr);
}

TEST_F(StationFileTest, TraceLinesFollowTheFormatAndGoToTheTraceFile) {
    const std::string path = TempPath("station_trace.txt");
    std::remove(path.c_str());
    Station::SetTraceFile(path);
    Load("[GEV]\n[TRX]\n");
    CICapMod* gev = Open("GEV");
    CICapMod* trx = Open("TRX");
    gev->GetCam(0)->SetAcqParam(0x4000, 1234.5, 0);
    gev->GetCam(0)->SetAcqParam(13, 0.0, 0);
    static_cast<CGige*>(gev)->SetEnumVal("AcquisitionMode", "Continuous");
    trx->WriteOutputPort(1, 17);
    trx->WriteModuleReg(9, 0, 1, 1);
    static_cast<CTRXCam*>(trx->GetCam(1))->AdvancedIOEnqueueDecision(6);  // queue not started: dropped
    Station::SetTraceFile("");
    const std::vector<std::string> expected = {
        "GEV:0/0 SetAcqParam 16384 1234.5 0",         "GEV:0/0 SetAcqParam 13 0 0",
        "GEV:0 SetEnumVal AcquisitionMode Continuous", "TRX:0 WriteOutputPort 1 17",
        "TRX:0 WriteModuleReg 9 0 1 1",               "TRX:0/1 AdvancedIOEnqueueDecision 6",
        "TRX:0/1 DecisionDropped 6",
    };
    // The drop carries its time as the last word: compare the rest.
    const auto unstamped = [](std::vector<std::string> lines) {
        if (!lines.empty()) lines.back() = lines.back().substr(0, lines.back().rfind(' '));
        return lines;
    };
    EXPECT_EQ(unstamped(Station::Trace()), expected);
    EXPECT_EQ(unstamped(Lines(path)), expected);
    // Reads change nothing and leave no line.
    Station::ClearTrace();
    double v;
    gev->GetCam(0)->GetAcqParam(0x4000, &v, 0);
    trx->ReadInputPort(0);
    EXPECT_TRUE(Station::Trace().empty());
}

// The environment names the station and the trace file at first use; the
// check runs in a fresh process, where the station has not been used yet.
TEST(StationEnvironmentTest, KiruStationAndKiruTraceAreHonouredAtFirstUse) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string station = TempPath("env_station.ini");
    const std::string trace = TempPath("env_trace.txt");
    std::ofstream(station) << "[QBM]\n[LXP:3]\n";
    std::remove(trace.c_str());
    EXPECT_EXIT(
        {
            setenv("KIRU_STATION", station.c_str(), 1);
            setenv("KIRU_TRACE", trace.c_str(), 1);
            std::vector<std::string> names = EnumeratedNames();
            std::unique_ptr<CICapMod> lxp(OrxCreateCaptureModule("LXP", 3, nullptr));
            if (lxp) lxp->WriteOutputPort(248, 0);
            std::exit(names == std::vector<std::string>{"QBM", "LXP"} && lxp ? 7 : 1);
        },
        ::testing::ExitedWithCode(7), "");
    EXPECT_EQ(Lines(trace), std::vector<std::string>{"LXP:3 WriteOutputPort 248 0"});
}
