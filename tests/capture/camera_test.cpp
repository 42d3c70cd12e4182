// Camera objects: attributes, parameters and texts, capabilities, stored
// values, tables, board-channel operations and GenICam features.
#include <cstdint>
#include <cstring>
#include <memory>
#include <tuple>

#include "station_fixture.h"

using kiru::sim::Station;

namespace {

class CameraTest : public kiru::test::CameraStationTest {
protected:
    // What GetAcqParam answers: its result and the value.
    std::pair<int, double> Param(ULONG number, ULONG index = 0) {
        double v = -1;
        const int result = camera->GetAcqParam(number, &v, index);
        return {result, v};
    }
    // The text behind a text parameter's address.
    std::string Text(ULONG number) {
        const double address = Param(number).second;
        return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(address));
    }
    std::tuple<ULONG, ULONG, ULONG, ULONG, ULONG> Attributes() {
        ORV_CAM_ATTR a{};
        EXPECT_EQ(camera->GetAttr(&a, 1), 1);
        return {a.Width, a.Height, a.BytesPerPixel, a.BitsPerPixel, a.ColorFormat};
    }
};

}  // namespace

TEST_F(CameraTest, AttributesComeFromTheStationAndFollowPackingAndWindow) {
    OpenCamera("[GEV]\nWidth = 1280\nHeight = 960\nBitsPerPixel = 8\nBytesPerPixel = 1\nColorFormat = 13\n"
               "CameraFile = Kelm-TM1-TRG-PWC\n");
    EXPECT_EQ(Attributes(), std::make_tuple(1280u, 960u, 1u, 8u, 13u));
    ORV_CAM_ATTR a{};
    camera->GetAttr(&a, 1);
    EXPECT_STREQ(a.CameraFile, "Kelm-TM1-TRG-PWC");
    // A raw colour camera repacks as 4-byte colour on parameter 57 = 4.
    camera->SetAcqParam(57, 4.0, 0);
    EXPECT_EQ(Attributes(), std::make_tuple(1280u, 960u, 4u, 32u, ULONG(ORV_COLOR_BGR32)));
    ASSERT_EQ(camera->SetAoi(16, 8, 640, 480), 1);
    EXPECT_EQ(Attributes(), std::make_tuple(640u, 480u, 4u, 32u, ULONG(ORV_COLOR_BGR32)));
    EXPECT_EQ(camera->SetAoi(0, 0, 0, 480), 0);
    EXPECT_EQ(camera->GetAttr(nullptr, 1), 0);
}

TEST_F(CameraTest, NumberedParametersAndStoredValuesRoundTripPerIndexAndRespectCaps) {
    OpenCamera("[GEV]\nParam.0x4000 = 5000\nParam.83.1 = 150\nCaps.58 = 0 255\nCaps.0x4000 = 10 100000\n"
               "Caps.95 = 1 50\n");
    EXPECT_EQ(Param(0x4000), std::make_pair(1, 5000.0));
    EXPECT_EQ(Param(83, 1), std::make_pair(1, 150.0));
    EXPECT_EQ(Param(83, 0), std::make_pair(0, 0.0));  // only index 1 has a value
    ASSERT_EQ(camera->SetAcqParam(0x4009, 1.0, 1), 1);
    EXPECT_EQ(Param(0x4009, 1), std::make_pair(1, 1.0));
    EXPECT_EQ(Param(0x4009, 0).first, 0);

    // The camera keeps a value within its caps and reports it.
    camera->SetAcqParam(58, 300.0, 0);
    EXPECT_EQ(Param(58).second, 255.0);
    EXPECT_EQ(camera->CheckParamValue(0x4000, 5.0), 10.0);
    EXPECT_EQ(camera->CheckParamValue(0x4000, 777.0), 777.0);
    EXPECT_EQ(camera->CheckParamValue(96, 1e9), 1e9);  // no caps: taken as given
    ORV_PARAM_CAPS caps{};
    ASSERT_EQ(camera->GetParamCaps(0x4000, &caps), 1);
    EXPECT_EQ(std::make_pair(caps.Min, caps.Max), std::make_pair(10.0, 100000.0));
    EXPECT_EQ(camera->GetParamCaps(77, &caps), 0);

    // Stored values share the store and the caps, without firing anything.
    EXPECT_EQ(camera->SetStoredVal(95, 80.0, 0), 1);
    EXPECT_EQ(camera->GetStoredVal(95, 0), 50.0);
    camera->SetAcqParam(95, 20.0, 0);
    EXPECT_EQ(camera->GetStoredVal(95, 0), 20.0);
    EXPECT_EQ(camera->GetStoredVal(96, 0), 0.0);
    EXPECT_EQ(Station::Trace()[2], "GEV:0/0 SetStoredVal 95 80 0");

    // Supported: what the station declares (and a GigE camera's model text
    // 67), not what a client happened to write.
    for (ULONG number : {0x4000u, 58u, 83u, 67u, 0x4009u, 79u})
        EXPECT_EQ(camera->IsParamSupported(number), number == 0x4009 || number == 79 ? 0 : 1) << number;
}

TEST_F(CameraTest, StationTextFormsAndTextParametersAsReplaceableAddresses) {
    // Comments, quotes, number forms and keys in any case, as station files have them.
    OpenCamera("# station\n[GEV:0]   \nWidth = 0x280 ; hexadecimal\nHeight = 480\t# decimal\n"
               "Text.67 = \"Marlo TS; #2\"  ; quoted\nText.0x4010 = A#1\nParam.0x4000 = 1.5e3\nparam.22 = -4\n"
               "CH0.REG.0x0A08 = 7\n");
    EXPECT_EQ(std::get<0>(Attributes()) * 1000 + std::get<1>(Attributes()), 640480u);
    EXPECT_EQ(Param(0x4000), std::make_pair(1, 1500.0));
    EXPECT_EQ(Param(22), std::make_pair(1, -4.0));
    EXPECT_EQ(camera->ReadReg(0x0A08), 7u);
    const char* before = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(Param(67).second));
    EXPECT_STREQ(before, "Marlo TS; #2");
    EXPECT_EQ(Text(0x4010), "A#1");
    EXPECT_EQ(Text(0x400E), "192.168.10.10");  // the default identity of GEV index 0
    const char* replacement = "Wren 5";
    ASSERT_EQ(camera->SetAcqParam(67, static_cast<double>(reinterpret_cast<std::uintptr_t>(replacement)), 0), 1);
    EXPECT_EQ(Text(67), "Wren 5");
    EXPECT_STREQ(before, "Marlo TS; #2");  // an address handed out earlier stays readable
    EXPECT_EQ(Station::Trace().back(), "GEV:0/0 SetAcqParam 67 Wren 5 0");
    std::string text;
    EXPECT_TRUE(Station::GetText("GEV", 0, 0, 67, &text));
    EXPECT_EQ(text, "Wren 5");
}

TEST_F(CameraTest, LookUpAndCalibrationTables) {
    OpenCamera("[GEV]\n");
    // Entries [from, from + count) of the camera's look-up table.
    auto lut = [](std::size_t from, std::size_t count) {
        std::vector<unsigned char> table;
        EXPECT_TRUE(Station::GetLut("GEV", 0, 0, &table));
        return std::vector<unsigned char>(table.begin() + from, table.begin() + from + count);
    };
    using Bytes = std::vector<unsigned char>;
    unsigned char data[4] = {9, 8, 7, 6};
    ASSERT_EQ(camera->WriteTable(0, 10, 4, data, 2), 1);
    EXPECT_EQ(lut(9, 5), (Bytes{9, 9, 8, 7, 6}));
    EXPECT_EQ(camera->WriteTable(0, 254, 4, data, 2), 0);  // past the 256 entries
    ASSERT_EQ(camera->InverseTable(0, 2), 1);
    EXPECT_EQ(lut(0, 1), Bytes{255});
    EXPECT_EQ(lut(255, 1), Bytes{0});
    camera->WriteLutEntry(0, 3, 77, 2);
    ASSERT_EQ(camera->LinearTable(0, 2), 1);
    camera->WriteLutEntry(0, 3, 77, 2);
    EXPECT_EQ(lut(2, 2), (Bytes{2, 77}));
    ASSERT_EQ(camera->WriteTable(3, 0, 4, data, 2), 1);
    std::vector<unsigned char> calibration;
    Station::GetCalibration("GEV", 0, 0, &calibration);
    EXPECT_EQ(calibration, (std::vector<unsigned char>{9, 8, 7, 6}));
    EXPECT_EQ(Station::Trace().back(), "GEV:0/0 WriteTable 3 0 4 2");
}

TEST_F(CameraTest, BoardChannelsRulesAndPorts) {
    OpenCamera("[LXP]\nChannels = 3\nRule = Kelm-JAI-CVA1-TRG-PWC-X1\nRule = Sony XC-HR70 Mode1\nPortName = COM3\n"
               "Ch2.PortName = com7\n",
               "LXP");
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
    EXPECT_EQ(Station::Trace(), (std::vector<std::string>{"LXP:0/1 ApplyCameraRule Sony XC-HR70 Mode1 1",
                                                          "LXP:0/1 ApplyParams", "LXP:0/1 SetChannelState 0",
                                                          "LXP:0 AttachCamera 1"}));

    const std::pair<CICamera*, const char*> ports[] = {{camera, "COM3"}, {ch1, nullptr}, {module->GetCam(2), "com7"}};
    for (const auto& p : ports) {
        ORV_PORT_INFO port{};
        ASSERT_EQ(p.first->GetPortInfo(&port, 0), p.second ? 1 : 0);
        if (p.second) {
            EXPECT_STREQ(port.DeviceName, p.second);
        }
    }
}

TEST_F(CameraTest, GenICamFeaturesOfGigeModules) {
    OpenCamera("[GEV]\n");
    auto* gige = dynamic_cast<CGige*>(module);
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
