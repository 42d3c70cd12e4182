// Camera objects: attributes, parameters and texts, capabilities, stored
// values, registers, tables and board-channel operations.
#include <cstdint>
#include <cstring>
#include <memory>

#include "capture/orv.h"
#include "station_fixture.h"

using kiru::sim::Station;

namespace {

class CameraTest : public kiru::test::StationTest {
protected:
    void Open(const std::string& text, const char* name = "GEV") {
        Load(text);
        module.reset(OrxCreateCaptureModule(name, 0, nullptr));
        ASSERT_NE(module, nullptr);
        camera = module->GetCam(0);
        ASSERT_NE(camera, nullptr);
    }
    std::unique_ptr<CICapMod> module;
    CICamera* camera = nullptr;
};

const char* TextOf(double address) {
    return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(address));
}

}  // namespace

TEST_F(CameraTest, AttributesComeFromTheStationAndFollowPackingAndWindow) {
    Open("[GEV]\nWidth = 1280\nHeight = 960\nBitsPerPixel = 8\nBytesPerPixel = 1\nColorFormat = 13\n"
         "CameraFile = Kelm-TM1-TRG-PWC\n");
    ORV_CAM_ATTR a{};
    ASSERT_EQ(camera->GetAttr(&a, 1), 1);
    EXPECT_EQ(a.Width, 1280u);
    EXPECT_EQ(a.Height, 960u);
    EXPECT_EQ(a.BytesPerPixel, 1u);
    EXPECT_EQ(a.ColorFormat, 13u);
    EXPECT_STREQ(a.CameraFile, "Kelm-TM1-TRG-PWC");
    // A raw colour camera repacks as 4-byte colour on parameter 57 = 4.
    camera->SetAcqParam(57, 4.0, 0);
    camera->GetAttr(&a, 1);
    EXPECT_EQ(a.ColorFormat, static_cast<ULONG>(ORV_COLOR_BGR32));
    EXPECT_EQ(a.BytesPerPixel, 4u);
    EXPECT_EQ(a.BitsPerPixel, 32u);
    ASSERT_EQ(camera->SetAoi(16, 8, 640, 480), 1);
    camera->GetAttr(&a, 1);
    EXPECT_EQ(a.Width, 640u);
    EXPECT_EQ(a.Height, 480u);
    EXPECT_EQ(camera->SetAoi(0, 0, 0, 480), 0);
    EXPECT_EQ(camera->GetAttr(nullptr, 1), 0);
}

TEST_F(CameraTest, NumberedParametersRoundTripPerIndexAndRespectCaps) {
    Open("[GEV]\nParam.0x4000 = 5000\nParam.83.1 = 150\nCaps.58 = 0 255\nCaps.0x4000 = 10 100000\n");
    double v = -1;
    EXPECT_EQ(camera->GetAcqParam(0x4000, &v, 0), 1);
    EXPECT_EQ(v, 5000.0);
    EXPECT_EQ(camera->GetAcqParam(83, &v, 1), 1);
    EXPECT_EQ(v, 150.0);
    EXPECT_EQ(camera->GetAcqParam(83, &v, 0), 0);  // only index 1 has a value
    EXPECT_EQ(v, 0.0);

    ASSERT_EQ(camera->SetAcqParam(0x4009, 1.0, 1), 1);
    EXPECT_EQ(camera->GetAcqParam(0x4009, &v, 1), 1);
    EXPECT_EQ(v, 1.0);
    EXPECT_EQ(camera->GetAcqParam(0x4009, &v, 0), 0);

    // The camera keeps a value within its caps and reports it.
    camera->SetAcqParam(58, 300.0, 0);
    camera->GetAcqParam(58, &v, 0);
    EXPECT_EQ(v, 255.0);
    EXPECT_EQ(camera->CheckParamValue(0x4000, 5.0), 10.0);
    EXPECT_EQ(camera->CheckParamValue(0x4000, 777.0), 777.0);
    EXPECT_EQ(camera->CheckParamValue(95, 1e9), 1e9);  // no caps: taken as given

    ORV_PARAM_CAPS caps{};
    ASSERT_EQ(camera->GetParamCaps(0x4000, &caps), 1);
    EXPECT_EQ(caps.Min, 10.0);
    EXPECT_EQ(caps.Max, 100000.0);
    EXPECT_EQ(camera->GetParamCaps(77, &caps), 0);

    // Supported: what the station declares, not what a client happened to write.
    EXPECT_EQ(camera->IsParamSupported(0x4000), 1);
    EXPECT_EQ(camera->IsParamSupported(58), 1);
    EXPECT_EQ(camera->IsParamSupported(83), 1);
    EXPECT_EQ(camera->IsParamSupported(67), 1);  // a GigE camera's model text
    EXPECT_EQ(camera->IsParamSupported(0x4009), 0);
    EXPECT_EQ(camera->IsParamSupported(79), 0);
}

TEST_F(CameraTest, TextParametersAreAddressesAndCanBeReplaced) {
    Open("[GEV:0]\nText.67 = Marlo TS-2\nText.0x4010 = 0815\n");
    double address = 0;
    ASSERT_EQ(camera->GetAcqParam(67, &address, 0), 1);
    const char* before = TextOf(address);
    EXPECT_STREQ(before, "Marlo TS-2");
    camera->GetAcqParam(0x4010, &address, 0);
    EXPECT_STREQ(TextOf(address), "0815");
    camera->GetAcqParam(0x400E, &address, 0);
    EXPECT_STREQ(TextOf(address), "192.168.10.10");  // the default identity of GEV index 0

    const char* replacement = "Wren 5";
    ASSERT_EQ(camera->SetAcqParam(67, static_cast<double>(reinterpret_cast<std::uintptr_t>(replacement)), 0), 1);
    camera->GetAcqParam(67, &address, 0);
    EXPECT_STREQ(TextOf(address), "Wren 5");
    EXPECT_STREQ(before, "Marlo TS-2");  // an address handed out earlier stays readable
    EXPECT_EQ(Station::Trace().back(), "GEV:0/0 SetAcqParam 67 Wren 5 0");
    std::string text;
    EXPECT_TRUE(Station::GetText("GEV", 0, 0, 67, &text));
    EXPECT_EQ(text, "Wren 5");
}

TEST_F(CameraTest, StoredValuesShareTheParameterStoreWithoutFiringTriggers) {
    Open("[GEV]\nParam.9 = 1\nParam.10 = 0\nCaps.95 = 1 50\n");
    EXPECT_EQ(camera->SetStoredVal(95, 80.0, 0), 1);
    EXPECT_EQ(camera->GetStoredVal(95, 0), 50.0);
    camera->SetAcqParam(95, 20.0, 0);
    EXPECT_EQ(camera->GetStoredVal(95, 0), 20.0);
    EXPECT_EQ(camera->GetStoredVal(96, 0), 0.0);
    EXPECT_EQ(Station::Trace().front(), "GEV:0/0 SetStoredVal 95 80 0");
}

TEST_F(CameraTest, RegistersAndTheReachabilityRegister) {
    Open("[GEV]\nReg.0x0D08 = 12\n");
    EXPECT_NE(camera->ReadReg(ORV_REG_REACHABLE), 0u);
    EXPECT_EQ(camera->ReadReg(0x0D08), 12u);
    EXPECT_EQ(camera->ReadReg(0x0D0C), 0u);
    ASSERT_EQ(camera->WriteReg(0x0D08, 40), 1);
    EXPECT_EQ(camera->ReadReg(0x0D08), 40u);
    EXPECT_EQ(Station::Trace().back(), "GEV:0/0 WriteReg 3336 40");

    ASSERT_TRUE(Station::SetReachable("GEV", 0, 0, false));
    EXPECT_EQ(camera->ReadReg(ORV_REG_REACHABLE), 0u);
    EXPECT_EQ(camera->ReadReg(0x0D08), 0u);
    double v;
    EXPECT_EQ(camera->GetAcqParam(0x4012, &v, 0), 0);
    EXPECT_EQ(camera->SetAcqParam(0x4012, 8228.0, 0), 0);
    EXPECT_EQ(camera->WriteReg(0x0D08, 1), 0);
    EXPECT_EQ(OrxCreateCaptureModule("GEV", 0, nullptr), nullptr);  // not found on the network
    ASSERT_TRUE(Station::SetReachable("GEV", 0, 0, true));
    EXPECT_NE(camera->ReadReg(ORV_REG_REACHABLE), 0u);
    std::unique_ptr<CICapMod> again(OrxCreateCaptureModule("GEV", 0, nullptr));
    EXPECT_NE(again, nullptr);
}

TEST_F(CameraTest, LookUpAndCalibrationTables) {
    Open("[GEV]\n");
    std::vector<unsigned char> lut;
    unsigned char data[4] = {9, 8, 7, 6};
    ASSERT_EQ(camera->WriteTable(0, 10, 4, data, 2), 1);
    ASSERT_TRUE(Station::GetLut("GEV", 0, 0, &lut));
    EXPECT_EQ(lut[9], 9);
    EXPECT_EQ(lut[10], 9);
    EXPECT_EQ(lut[13], 6);
    EXPECT_EQ(camera->WriteTable(0, 254, 4, data, 2), 0);  // past the 256 entries
    ASSERT_EQ(camera->InverseTable(0, 2), 1);
    Station::GetLut("GEV", 0, 0, &lut);
    EXPECT_EQ(lut[0], 255);
    EXPECT_EQ(lut[255], 0);
    camera->WriteLutEntry(0, 3, 77, 2);
    ASSERT_EQ(camera->LinearTable(0, 2), 1);
    camera->WriteLutEntry(0, 3, 77, 2);
    Station::GetLut("GEV", 0, 0, &lut);
    EXPECT_EQ(lut[2], 2);
    EXPECT_EQ(lut[3], 77);

    ASSERT_EQ(camera->WriteTable(3, 0, 4, data, 2), 1);
    std::vector<unsigned char> calibration;
    Station::GetCalibration("GEV", 0, 0, &calibration);
    EXPECT_EQ(calibration, (std::vector<unsigned char>{9, 8, 7, 6}));
    EXPECT_EQ(Station::Trace().back(), "GEV:0/0 WriteTable 3 0 4 2");
}

TEST_F(CameraTest, BoardChannelsRulesAndPorts) {
    Open("[LXP]\nChannels = 3\nRule = Kelm-JAI-CVA1-TRG-PWC-X1\nRule = Sony XC-HR70 Mode1\nPortName = COM3\n"
         "Ch2.PortName = com7\n",
         "LXP");
    EXPECT_NE(module->GetCam(2), nullptr);
    const ORV_CAMERA_RULE* rule = module->GetNextRule("sony xc-hr70 mode1", nullptr);
    ASSERT_NE(rule, nullptr);
    EXPECT_STREQ(rule->Name, "Sony XC-HR70 Mode1");
    EXPECT_EQ(module->GetNextRule("sony xc-hr70 mode1", rule), nullptr);
    EXPECT_EQ(module->GetNextRule("Unknown", nullptr), nullptr);
    const ORV_CAMERA_RULE* first = module->GetNextRule(nullptr, nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(module->GetNextRule(nullptr, first), rule);

    CICamera* ch1 = module->GetCam(1);
    ASSERT_EQ(ch1->ApplyCameraRule(rule, 1), 1);
    EXPECT_EQ(ch1->ApplyCameraRule("Unknown", 1), 0);
    ORV_CAM_ATTR a{};
    ch1->GetAttr(&a, 1);
    EXPECT_STREQ(a.CameraFile, "Sony XC-HR70 Mode1");
    ch1->ApplyParams();
    ch1->SetChannelState(0);
    ASSERT_EQ(module->AttachCamera(ch1), 1);

    ORV_PORT_INFO port{};
    ASSERT_EQ(camera->GetPortInfo(&port, 0), 1);
    EXPECT_STREQ(port.DeviceName, "COM3");
    EXPECT_EQ(ch1->GetPortInfo(&port, 0), 0);
    ASSERT_EQ(module->GetCam(2)->GetPortInfo(&port, 0), 1);
    EXPECT_STREQ(port.DeviceName, "com7");

    const std::vector<std::string> trace = Station::Trace();
    const std::vector<std::string> expected = {"LXP:0/1 ApplyCameraRule Sony XC-HR70 Mode1 1", "LXP:0/1 ApplyParams",
                                               "LXP:0/1 SetChannelState 0", "LXP:0 AttachCamera 1"};
    EXPECT_EQ(trace, expected);
}

TEST_F(CameraTest, GenICamFeaturesOfGigeModules) {
    Open("[GEV]\n");
    auto* gige = dynamic_cast<CGige*>(module.get());
    ASSERT_NE(gige, nullptr);
    EXPECT_EQ(gige->SetVal("TLParamsLocked", 1.0, 0, 0), 1);
    EXPECT_EQ(gige->SetEnumVal("AcquisitionMode", "Continuous", 0, 0), 1);
    double v = 0;
    EXPECT_EQ(gige->GetVal("TLParamsLocked", &v), 1);
    EXPECT_EQ(v, 1.0);
    EXPECT_EQ(gige->GetVal("AcquisitionStart", &v), 0);
    EXPECT_EQ(Station::Feature("GEV", 0, "AcquisitionMode"), "Continuous");
    EXPECT_EQ(gige->SetVal(nullptr, 1.0), 0);
    EXPECT_EQ(module->SaveUserSet("1", 0), 1);
    EXPECT_EQ(Station::Trace().back(), "GEV:0 SaveUserSet 1 0");
}
