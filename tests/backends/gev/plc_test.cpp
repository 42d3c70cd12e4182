// GigE back-end: the PLC link of the "RCS" controller, file-change
// callbacks, the PLC role test, tables sent to the cameras, registrations
// left after Terminate, and controller input edges that reach the client.
#include <cstring>

#include "gev_fixture.h"

namespace kiru_test {
namespace {

const std::string kRcs = "[RCS]\nPlcType = 1\nPlcIP = 10.0.0.7\nPlcMAC = 00:0e:8c:01:02:03\nPlcIn.4 = 0x34\nPlcIn.5 = 0x12\n";

TEST_F(GevTest, WithoutRcsEveryPlcOperationFailsAndSendsNothing) {
    Open(Camera(0));
    unsigned char bytes[8] = {1};
    unsigned short words[4] = {1};
    ULONG longs[4] = {1}, address = 0, mask = 0;
    float floats[4] = {1.0f};
    char name[64] = "x";
    Station::ClearTrace();
    EXPECT_EQ(grab->PlcGetInputs(0, 1, bytes) + grab->PlcGetInputsSigned16(0, 1, words) +
                  grab->PlcGetInputsSigned32(0, 1, longs) + grab->PlcGetInputsFloat(0, 1, floats) +
                  grab->PlcSetOutputs(0, 1, bytes) + grab->PlcSetOutputsSigned16(0, 1, words) +
                  grab->PlcSetOutputsSigned32(0, 1, longs) + grab->PlcSetOutputsFloat(0, 1, floats) +
                  grab->PlcSetIPAddress(1, 2, 3, name) + static_cast<int>(grab->PlcGetIPAddress(&address, &mask, name)) +
                  grab->PlcGetMACAddress(bytes) + grab->IsPLCTypeSupported(IFW_COMM_ROLE_18) +
                  grab->PlcDelFileChangeCallback(&address),
              0);
    EXPECT_EQ(grab->PlcAddFileChangeCallback(0, 0, 1, 0, [](IFW_FILE_DATA_CB_RECORD*, void*) {}, nullptr), nullptr);
    EXPECT_TRUE(Station::Trace().empty());
}

TEST_F(GevTest, PlcDataAndAddressPassThroughInBothDirections) {
    Open(Camera(0) + kRcs);
    unsigned char bytes[2] = {};
    unsigned short word = 0;
    ULONG dword = 0;
    ASSERT_EQ(grab->PlcGetInputs(4, 2, bytes), 1);
    EXPECT_EQ(bytes[0], 0x34);
    EXPECT_EQ(bytes[1], 0x12);
    ASSERT_EQ(grab->PlcGetInputsSigned16(4, 1, &word), 1);
    EXPECT_EQ(word, 0x1234);
    ASSERT_EQ(grab->PlcGetInputsSigned32(4, 1, &dword), 1);
    EXPECT_EQ(dword, 0x1234u);
    EXPECT_EQ(grab->PlcGetInputs(4095, 2, bytes), 0);  // past the area: the controller's refusal comes back

    unsigned char outBytes[2] = {7, 8};
    unsigned short outWord = static_cast<unsigned short>(-2);
    ULONG outLong = 70000;
    float outFloat = 1.5f;
    EXPECT_EQ(grab->PlcSetOutputs(0, 2, outBytes), 1);
    EXPECT_EQ(grab->PlcSetOutputsSigned16(2, 1, &outWord), 1);
    EXPECT_EQ(grab->PlcSetOutputsSigned32(4, 1, &outLong), 1);
    EXPECT_EQ(grab->PlcSetOutputsFloat(8, 1, &outFloat), 1);
    EXPECT_TRUE(TracedInOrder({"RCS:0 PlcSetOutputs 0 2 7 8", "RCS:0 PlcSetOutputsSigned16 2 1 -2",
                               "RCS:0 PlcSetOutputsSigned32 4 1 70000", "RCS:0 PlcSetOutputsFloat 8 1 1.5"}));
    float back = 0;
    ASSERT_TRUE(Station::GetPlcOutputs("RCS", 0, 8, &back, 4));
    EXPECT_EQ(back, 1.5f);

    ULONG address = 0, mask = 0;
    char name[64] = "line4";
    EXPECT_EQ(grab->PlcSetIPAddress(0x0A000008, 0xFFFFFF00, 0x0A000001, name), 1);
    EXPECT_TRUE(Traced("RCS:0 PlcSetIPAddress 167772168 4294967040 167772161 line4"));
    char read[64] = {};
    EXPECT_EQ(grab->PlcGetIPAddress(&address, &mask, read), 1u);
    EXPECT_EQ(address, 0x0A000008u);
    EXPECT_STREQ(read, "line4");
    unsigned char mac[6] = {};
    ASSERT_EQ(grab->PlcGetMACAddress(mac), 1);
    EXPECT_EQ(mac[5], 0x03);
}

TEST_F(GevTest, PlcRoleFollowsTheControllerType) {
    struct Case {
        int type;
        IFW_COMM_ROLE_TYPE role;
        int supported;
    } cases[] = {{1, IFW_COMM_ROLE_18, 1}, {1, IFW_COMM_ROLE_9, 0}, {2, IFW_COMM_ROLE_9, 1},
                 {2, IFW_COMM_ROLE_18, 0}, {0, IFW_COMM_ROLE_NONE, 0}, {3, IFW_COMM_ROLE_9, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type * 100 + c.role);
        Open(Camera(0) + "[RCS]\nPlcType = " + std::to_string(c.type) + "\n");
        EXPECT_EQ(grab->IsPLCTypeSupported(c.role), c.supported);
    }
}

struct Changes {
    std::mutex mutex;
    std::vector<IFW_FILE_DATA_CB_RECORD> seen;
};
void OnFileChange(IFW_FILE_DATA_CB_RECORD* record, void* context) {
    auto* changes = static_cast<Changes*>(context);
    std::lock_guard<std::mutex> lock(changes->mutex);
    changes->seen.push_back(*record);
}

TEST_F(GevTest, FileChangeCallbackCarriesItsArgumentsAndTheNewValue) {
    Open(Camera(0) + kRcs);
    Changes changes;
    void* handle = grab->PlcAddFileChangeCallback(99, 16, 2, 5, &OnFileChange, &changes);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(grab->PlcAddFileChangeCallback(0, 16, 3, 0, &OnFileChange, &changes), nullptr);  // size refused
    EXPECT_EQ(Station::DataInCallbackCount("RCS", 0), 1);

    const unsigned char value[2] = {0xCD, 0xAB};
    ASSERT_TRUE(Station::SetPlcInputs("RCS", 0, 16, value, 2));
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lock(changes.mutex);
        return !changes.seen.empty();
    }));
    {
        std::lock_guard<std::mutex> lock(changes.mutex);
        EXPECT_EQ(changes.seen[0].first, 16u);
        EXPECT_EQ(changes.seen[0].second, 2u);
        EXPECT_EQ(changes.seen[0].third, 5u);
        EXPECT_EQ(changes.seen[0].value, 0xABCD);
    }
    EXPECT_EQ(grab->PlcDelFileChangeCallback(nullptr), 0);
    EXPECT_EQ(grab->PlcDelFileChangeCallback(handle), 1);
    EXPECT_EQ(grab->PlcDelFileChangeCallback(handle), 0);  // already gone
    EXPECT_EQ(Station::DataInCallbackCount("RCS", 0), 0);
}

TEST_F(GevTest, TerminateLeavesNoRegistrationBehind) {
    Open(Camera(0) + kRcs + "[TRX]\n[USB]\n");
    ASSERT_NE(grab->PlcAddFileChangeCallback(0, 0, 1, 0, &OnFileChange, nullptr), nullptr);
    ASSERT_NE(grab->PlcAddFileChangeCallback(0, 8, 4, 0, &OnFileChange, nullptr), nullptr);
    ASSERT_NE(grab->AddDataInChangeCamTrigger(3, 1, 0), nullptr);
    EXPECT_GT(Station::InterruptCallbackCount("TRX", 0), 0);
    EXPECT_GT(Station::InterruptCallbackCount("USB", 0), 0);
    EXPECT_EQ(grab->Terminate(), 1);
    for (const char* module : {"RCS", "TRX", "USB"}) EXPECT_EQ(Station::InterruptCallbackCount(module, 0), 0) << module;
    EXPECT_EQ(Station::DataInCallbackCount("RCS", 0), 0);
    EXPECT_EQ(Station::CamTriggerCount("RCS", 0), 0);
    const unsigned char ones[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_TRUE(Station::SetPlcInputs("RCS", 0, 0, ones, 16));  // nobody is called any more
}

TEST_F(GevTest, SolutionSelectInputsRaiseTheSolutionChange) {
    struct Case {
        const char* station;
        ULONG input;
        int solution;
    } cases[] = {{"[TRX]\n", 0x15, 5}, {"[USB]\n", 0x03, 3}, {"[GIO]\nModuleInfo = 1\n", 0x0C, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.station);
        Open(Camera(0) + c.station);
        std::atomic<int> solution{-1};
        grab->RegisterChangeSolutionCallback(&OnSolution, &solution);
        const std::string module = std::string(c.station).substr(1, 3);
        ASSERT_TRUE(Station::SetInput(module, 0, 0, c.input));
        EXPECT_TRUE(WaitUntil([&] { return solution.load() >= 1000; }));
        EXPECT_EQ(solution.load(), c.solution + 1000);
    }
}

TEST_F(GevTest, TablesReachTheCameras) {
    Open(Camera(0) + Camera(1));
    unsigned char table[256];
    for (int i = 0; i < 256; ++i) table[i] = static_cast<unsigned char>(255 - i);
    EXPECT_EQ(grab->WriteLUTBuf(0, 0, table), 0);
    ASSERT_EQ(grab->WriteLUTBuf(0, 256, table), 1);
    for (ULONG camera : {0u, 1u}) {
        std::vector<unsigned char> lut;
        ASSERT_TRUE(Station::GetLut("GEV", camera, 0, &lut));
        EXPECT_EQ(lut[10], 245) << camera;
    }
    EXPECT_EQ(grab->LinearizeLUT(), 1);
    EXPECT_EQ(grab->InvLinearizeLUT(), 1);
    EXPECT_TRUE(TracedInOrder({"GEV:0/0 LinearTable 0 2", "GEV:1/0 LinearTable 0 2", "GEV:0/0 InverseTable 0 2",
                               "GEV:1/0 InverseTable 0 2"}));
    grab->SetClientActiveCamera(1);
    unsigned char calib[4] = {9, 8, 7, 6};
    grab->WriteCalib(calib, 4);
    std::vector<unsigned char> stored;
    ASSERT_TRUE(Station::GetCalibration("GEV", 1, 0, &stored));
    EXPECT_EQ(stored, std::vector<unsigned char>(calib, calib + 4));
    EXPECT_TRUE(Traced("GEV:1/0 WriteTable 3 0 4 2"));
}

}  // namespace
}  // namespace kiru_test
