// Station files, module enumeration, module creation and the trace.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "capture/orv.h"
#include "station_fixture.h"

using kiru::sim::Station;

namespace {

class StationFileTest : public kiru::test::StationTest {};

std::string ParseError(const std::string& text) {
    std::string error;
    EXPECT_FALSE(Station::LoadText(text, "bad.ini", &error));
    return error;
}

std::vector<std::string> EnumeratedNames() {
    std::vector<std::string> names;
    CQMTMods mods;
    for (_QMT_PARENT_MOD* m = mods.GetFirst(); m; m = mods.GetNext()) names.emplace_back(m->Name);
    return names;
}

std::string TempPath(const char* name) {
    return ::testing::TempDir() + name;
}

}  // namespace

TEST_F(StationFileTest, BadLinesNameFileAndLineAndLoadNothing) {
    Load("[LXP]\n");
    EXPECT_EQ(ParseError("[GEV:0]\nWidth = 640\nWidht = 480\n"), "bad.ini:3: unknown key 'Widht'");
    EXPECT_EQ(ParseError("Width = 1\n"), "bad.ini:1: key outside a module section");
    EXPECT_EQ(ParseError("[GEV:x]\n"), "bad.ini:1: bad module index in '[GEV:x]'");
    EXPECT_EQ(ParseError("[LONG]\n"), "bad.ini:1: module name must have 1 to 3 characters: '[LONG]'");
    EXPECT_EQ(ParseError("[GEV]\n[GEV:0]\n"), "bad.ini:2: duplicate section [GEV:0]");
    EXPECT_EQ(ParseError("[GEV]\n# c\nParam.10 = six\n"), "bad.ini:3: bad value 'six' for Param.10");
    EXPECT_EQ(ParseError("[GEV]\nCaps.58 = 10\n"), "bad.ini:2: bad value '10' for Caps.58 (expected MIN MAX)");
    EXPECT_EQ(ParseError("[GEV]\nReg.0xZZ = 1\n"), "bad.ini:2: bad number in key 'Reg.0xZZ'");
    EXPECT_EQ(ParseError("[TRX]\nChannels = 1\nCh1.Param.3 = 1\n"),
              "bad.ini:3: channel 1 out of range (Channels = 1)");
    EXPECT_EQ(ParseError("[TRX]\nCh3.Param.3 = 1\nChannels = 2\n"),
              "bad.ini:3: Channels = 2 but channel 3 is described");
    EXPECT_EQ(ParseError("[GEV]\nWidth 640\n"), "bad.ini:2: expected KEY = VALUE: 'Width 640'");
    EXPECT_EQ(ParseError("[GEV]\nImage = /no/such/file.bmp\n"), "bad.ini:2: /no/such/file.bmp: cannot open the file");
    EXPECT_EQ(ParseError("[GEV]\nTriggerCameras = 1\n"), "bad.ini:2: TriggerCameras belongs to TRX, RCS and USB channels");
    EXPECT_EQ(ParseError("[TRX]\nCh1.TriggerCameras = 1 8\n"),
              "bad.ini:2: bad value '1 8' for Ch1.TriggerCameras (expected none or GEV indices 0 to 7)");
    EXPECT_EQ(ParseError("[GEV]\nGainUnit = -2\n"),
              "bad.ini:2: bad value '-2' for GainUnit (expected linear, dB, off or a number)");
    // The station loaded before is still in place.
    EXPECT_EQ(EnumeratedNames(), std::vector<std::string>{"LXP"});
}

TEST_F(StationFileTest, LoadFileReportsItsPath) {
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

TEST_F(StationFileTest, CommentsQuotesAndNumberForms) {
    Load("# station\n[GEV]   \nWidth = 0x280 ; hexadecimal\nHeight = 480\t# decimal\n"
         "Text.67 = \"Marlo TS; #2\"  ; quoted\nText.0x4010 = A#1\nParam.0x4000 = 1.5e3\nparam.22 = -4\n"
         "CH0.REG.0x0A08 = 7\n");
    std::unique_ptr<CICapMod> gev(OrxCreateCaptureModule("GEV", 0, nullptr));
    ORV_CAM_ATTR a{};
    gev->GetCam(0)->GetAttr(&a, 1);
    EXPECT_EQ(a.Width, 640u);
    EXPECT_EQ(a.Height, 480u);
    std::string text;
    Station::GetText("GEV", 0, 0, 67, &text);
    EXPECT_EQ(text, "Marlo TS; #2");
    Station::GetText("GEV", 0, 0, 0x4010, &text);
    EXPECT_EQ(text, "A#1");
    double v = 0;
    Station::GetParam("GEV", 0, 0, 0x4000, &v);
    EXPECT_EQ(v, 1500.0);
    Station::GetParam("GEV", 0, 0, 22, &v);
    EXPECT_EQ(v, -4.0);
    EXPECT_EQ(gev->GetCam(0)->ReadReg(0x0A08), 7u);
    EXPECT_EQ(ParseError("[GEV]\nText.67 = \"open\n"), "bad.ini:2: unterminated quote: 'Text.67 = \"open'");
    EXPECT_EQ(ParseError("[GEV]\nWidth = 010x\n"), "bad.ini:2: bad value '010x' for Width");
    EXPECT_EQ(ParseError("[GEV]\nWidth = 4294967296\n"), "bad.ini:2: bad value '4294967296' for Width");
    EXPECT_EQ(ParseError("[GEV]\nParam.1 = nan\n"), "bad.ini:2: bad value 'nan' for Param.1");
}

TEST_F(StationFileTest, EnumerationFollowsTheFileAndNamesAreFourBytes) {
    EXPECT_EQ(EnumeratedNames(), std::vector<std::string>{});
    Load("[AB]\n[LXP]\n[QBM:0]\nModuleInfo = 5\n[GEV:1]\n");
    EXPECT_EQ(EnumeratedNames(), (std::vector<std::string>{"AB", "LXP", "QBM", "GEV"}));
    CQMTMods mods;
    _QMT_PARENT_MOD* first = mods.GetFirst();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::memcmp(first->Name, "AB\0", 4), 0);
    _QMT_PARENT_MOD* lxp = mods.GetNext();
    EXPECT_EQ(std::memcmp(lxp->Name, "LXP", 4), 0);
    _QMT_PARENT_MOD* qbm = mods.GetNext();
    EXPECT_EQ(qbm->ModuleInfo, 5u);
    _QMT_PARENT_MOD* gev = mods.GetNext();
    EXPECT_EQ(gev->Index, 1u);
    EXPECT_EQ(mods.GetNext(), nullptr);
    EXPECT_EQ(mods.GetNext(), nullptr);

    Station::Reset();
    EXPECT_EQ(mods.GetFirst(), nullptr);
}

TEST_F(StationFileTest, ModulesOpenAsTheirKindAndAbsentOnesDoNot) {
    Load("[GEV]\n[TRX]\n[RCS]\n[USB:2]\n[GIO]\n[XY]\n");
    EXPECT_EQ(OrxCreateCaptureModule("GEV", 1, nullptr), nullptr);
    EXPECT_EQ(OrxCreateCaptureModule("USB", 0, nullptr), nullptr);
    EXPECT_EQ(OrxCreateCaptureModule("QBM", 0, nullptr), nullptr);
    EXPECT_EQ(OrxCreateCaptureModule(nullptr, 0, nullptr), nullptr);

    std::unique_ptr<CICapMod> gev(OrxCreateCaptureModule("GEV", 0, "gevtest.txt"));
    ASSERT_NE(gev, nullptr);
    EXPECT_NE(dynamic_cast<CGige*>(gev.get()), nullptr);
    EXPECT_STREQ(gev->ModName(), "GEV");
    EXPECT_STREQ(gev->ConfigFile(), "gevtest.txt");
    EXPECT_EQ(Station::ConfigFile("GEV", 0), "gevtest.txt");
    EXPECT_NE(gev->GetCam(0), nullptr);
    EXPECT_EQ(gev->GetCam(1), nullptr);

    std::unique_ptr<CICapMod> trx(OrxCreateCaptureModule("TRX", 0, nullptr));
    EXPECT_NE(dynamic_cast<CTRXCam*>(trx->GetCam(1)), nullptr);
    EXPECT_EQ(trx->GetCam(2), nullptr);
    std::unique_ptr<CICapMod> rcs(OrxCreateCaptureModule("RCS", 0, nullptr));
    EXPECT_NE(dynamic_cast<CRCS*>(rcs.get()), nullptr);
    std::unique_ptr<CICapMod> usb(OrxCreateCaptureModule("USB", 2, nullptr));
    EXPECT_NE(dynamic_cast<CUSBCam*>(usb->GetCam(3)), nullptr);
    EXPECT_EQ(usb->ModIndex(), 2u);
    std::unique_ptr<CICapMod> gio(OrxCreateCaptureModule("GIO", 0, nullptr));
    EXPECT_NE(gio->GetCam(1), nullptr);
    std::unique_ptr<CICapMod> other(OrxCreateCaptureModule("XY", 0, nullptr));
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->GetCam(0), nullptr);
}

TEST_F(StationFileTest, TraceLinesFollowTheFormatAndGoToTheTraceFile) {
    const std::string path = TempPath("station_trace.txt");
    std::remove(path.c_str());
    Station::SetTraceFile(path);
    Load("[GEV]\n[TRX]\n");
    std::unique_ptr<CICapMod> gev(OrxCreateCaptureModule("GEV", 0, nullptr));
    std::unique_ptr<CICapMod> trx(OrxCreateCaptureModule("TRX", 0, nullptr));
    gev->GetCam(0)->SetAcqParam(0x4000, 1234.5, 0);
    gev->GetCam(0)->SetAcqParam(13, 0.0, 0);
    static_cast<CGige*>(gev.get())->SetEnumVal("AcquisitionMode", "Continuous");
    trx->WriteOutputPort(1, 17);
    trx->WriteModuleReg(9, 0, 1, 1);
    static_cast<CTRXCam*>(trx->GetCam(1))->AdvancedIOEnqueueDecision(6);
    Station::SetTraceFile("");

    const std::vector<std::string> expected = {
        "GEV:0/0 SetAcqParam 16384 1234.5 0",
        "GEV:0/0 SetAcqParam 13 0 0",
        "GEV:0 SetEnumVal AcquisitionMode Continuous",
        "TRX:0 WriteOutputPort 1 17",
        "TRX:0 WriteModuleReg 9 0 1 1",
        "TRX:0/1 AdvancedIOEnqueueDecision 6",
    };
    EXPECT_EQ(Station::Trace(), expected);
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    EXPECT_EQ(lines, expected);

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
    std::ifstream file(trace);
    std::string line;
    std::getline(file, line);
    EXPECT_EQ(line, "LXP:3 WriteOutputPort 248 0");
}
