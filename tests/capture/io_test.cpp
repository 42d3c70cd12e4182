// I/O modules: ports, module registers, deleting interrupt callbacks,
// decision queues, pulse generators, the PLC link and the run-time entry points.
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/clock.h"
#include "platform/dynload.h"
#include "station_fixture.h"

using kiru::sim::Station;
using kiru::test::WaitUntil;

namespace {

using IoTest = kiru::test::StationTest;

// Records the calls of a callback and the threads they ran on.
struct Calls {
    std::mutex mutex;
    std::vector<std::thread::id> threads;
    std::vector<std::uint64_t> values;

    void Add(std::uint64_t value = 0) {
        std::lock_guard<std::mutex> lock(mutex);
        threads.push_back(std::this_thread::get_id());
        values.push_back(value);
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return threads.size();
    }
    bool WaitFor(std::size_t count) {
        return WaitUntil([&] { return Count() >= count; });
    }
};

void OnData(RCS_DATAIN_CB_RECORD* record, void* context) { static_cast<Calls*>(context)->Add(record->Value); }

// A library of the system's own with a cosine entry point, as its loader
// names it.
#if defined(_WIN32)
constexpr const char* kSystemMathLibrary = "msvcrt.dll";
#else
constexpr const char* kSystemMathLibrary = "libm.so.6";
#endif

}  // namespace

TEST_F(IoTest, PortsModuleParametersAndRegisterBlocks) {
    Load("[RCS]\nModuleInfo = 0x31973\nInput.0 = 0x15\nModuleParam.93 = 0x300\nInfo.4 = 0\n");
    CICapMod* rcs = Open("RCS");
    EXPECT_EQ(rcs->GetModuleInfo(), 0x31973u);
    EXPECT_EQ(rcs->ReadInputPort(0), 0x15u);
    EXPECT_EQ(rcs->ReadInputPort(1), 0u);
    Station::SetInput("RCS", 0, 0, 0x02);
    EXPECT_EQ(rcs->ReadInputPort(0), 0x02u);
    ULONG item = 9;
    EXPECT_EQ(rcs->QueryModuleInfo(4, &item), 1);
    EXPECT_EQ(item, 0u);
    EXPECT_EQ(rcs->QueryModuleInfo(77, &item), 0);

    EXPECT_EQ(rcs->GetModuleParam(93), 0x300u);
    rcs->SetModuleParam(93, 0x300 | 64);
    rcs->WriteOutputPort(1, 10);
    ULONG param = 0, output = 0, value = 0;
    ASSERT_TRUE(Station::GetModuleParam("RCS", 0, 93, &param));
    ASSERT_TRUE(Station::GetOutput("RCS", 0, 10, &output));
    EXPECT_EQ(std::make_pair(param, output), std::make_pair(ULONG{0x340}, ULONG{1}));

    EXPECT_EQ(rcs->WriteModuleReg(93, 0, 1, 1), 1);
    EXPECT_EQ(rcs->WriteModuleReg(93, 16, 4, 0x01020304), 1);
    EXPECT_EQ(rcs->WriteModuleReg(93, 0, 3, 1), 0);
    EXPECT_EQ(rcs->ReadModuleReg(93, 16, 4), 0x01020304u);
    EXPECT_EQ(rcs->ReadModuleReg(93, 17, 1), 0x03u);
    ASSERT_TRUE(Station::GetModuleReg("RCS", 0, 93, 0, 1, &value));
    EXPECT_EQ(value, 1u);

    rcs->SetModuleMode(1, 0);
    rcs->ConfigureModuleIo(0, 0, 0);
    rcs->EnableModuleIo(1, 1);
    rcs->SetSyncMode(0, 1, 0);
    const std::vector<std::string> expected = {
        "RCS:0 SetModuleParam 93 832",        "RCS:0 WriteOutputPort 1 10",   "RCS:0 WriteModuleReg 93 0 1 1",
        "RCS:0 WriteModuleReg 93 16 4 16909060", "RCS:0 SetModuleMode 1 0",   "RCS:0 ConfigureModuleIo 0 0 0",
        "RCS:0 EnableModuleIo 1 1",           "RCS:0 SetSyncMode 0 1 0",
    };
    EXPECT_EQ(Station::Trace(), expected);
}

TEST_F(IoTest, DeletingACallbackWaitsForItsRunningCall) {
    Load("[GIO]\n");
    CICapMod* gio = Open("GIO");
    struct Slow {
        std::atomic<bool> entered{false}, release{false}, finished{false};
    } slow;
    CIntrCallback* cb = gio->CreateIntrCallback(
        3,
        [](void* c) {
            auto* s = static_cast<Slow*>(c);
            s->entered = true;
            WaitUntil([s] { return s->release.load(); });
            s->finished = true;
        },
        &slow);
    Station::FireEvent("GIO", 0, 3);
    ASSERT_TRUE(WaitUntil([&] { return slow.entered.load(); }));
    std::thread releaser([&] { slow.release = true; });
    EXPECT_EQ(gio->DeleteIntrCallback(cb), 1);
    EXPECT_TRUE(slow.finished);
    releaser.join();
}

TEST_F(IoTest, AModuleMayBeDeletedFromItsOwnCallbackAfterTheStationLetGo) {
    Load("[GIO]\n");
    struct Owner {
        std::unique_ptr<CICapMod> module;
        std::atomic<bool> entered{false}, go{false}, deleted{false};
    } owner;
    owner.module.reset(OrxCreateCaptureModule("GIO", 0, nullptr));
    owner.module->CreateIntrCallback(
        4,
        [](void* c) {
            auto* o = static_cast<Owner*>(c);
            o->entered = true;
            WaitUntil([o] { return o->go.load(); });
            o->module.reset();  // the last reference to the board goes on the board's own thread
            o->deleted = true;
        },
        &owner);
    Station::FireEvent("GIO", 0, 4);
    ASSERT_TRUE(WaitUntil([&] { return owner.entered.load(); }));
    Station::Reset();
    owner.go = true;
    ASSERT_TRUE(WaitUntil([&] { return owner.deleted.load(); }));
    // The parked board is released (and its threads joined) by the next load.
    Load("[GIO]\n");
    EXPECT_TRUE(Station::HasModule("GIO", 0));
}

TEST_F(IoTest, DecisionQueuesReleaseOnTheControllersClock) {
    Load("[TRX]\nCh1.Param.16384 = 0\n[USB]\n");
    CICapMod* trx = Open("TRX");
    auto* side1 = static_cast<CTRXCam*>(trx->GetCam(1));
    side1->AdvancedIOEnqueueDecision(1);  // not started: dropped
    side1->AdvancedIOSetValidateWindow(0, 6000);
    side1->AdvancedIOStop();
    side1->AdvancedIOStart();
    side1->AdvancedIOEnqueueDecision(5);
    side1->AdvancedIOEnqueueDecision(2);
    ASSERT_TRUE(WaitUntil([&] { return Station::ReleasedDecisions("TRX", 0, 1).size() == 2; }));
    EXPECT_EQ(Station::ReleasedDecisions("TRX", 0, 1), (std::vector<ULONG>{5, 2}));

    // With a long offset decisions wait in the queue; a stop empties it.
    auto* usb = static_cast<CUSBCam*>(Open("USB")->GetCam(3));
    usb->SetAcqParam(16384, 60e6, 0);
    usb->AdvancedIOStart();
    usb->AdvancedIOEnqueueDecision(3);
    usb->AdvancedIOValidateEntry();
    EXPECT_EQ(Station::PendingDecisions("USB", 0, 3), std::vector<ULONG>{3});
    usb->AdvancedIOStop();
    EXPECT_TRUE(Station::PendingDecisions("USB", 0, 3).empty());
    EXPECT_TRUE(Station::ReleasedDecisions("USB", 0, 3).empty());
    const std::vector<std::string> trace = Station::Trace();
    // Drops are stamped with their time: compare all but the stamp.
    ASSERT_GE(trace.size(), 5u);
    EXPECT_EQ((std::vector<std::string>{trace[0], trace[1].substr(0, trace[1].rfind(' ')), trace[2],
                                        trace[trace.size() - 2], trace.back().substr(0, trace.back().rfind(' '))}),
              (std::vector<std::string>{"TRX:0/1 AdvancedIOEnqueueDecision 1", "TRX:0/1 DecisionDropped 1",
                                        "TRX:0/1 AdvancedIOSetValidateWindow 0 6000", "USB:0/3 AdvancedIOStop",
                                        "USB:0/3 DecisionDropped 3"}));
}

TEST_F(IoTest, PulseGeneratorsFireAtTheirTime) {
    Load("[RCS]\n");
    auto* rcs = dynamic_cast<CRCS*>(Open("RCS"));
    ASSERT_NE(rcs, nullptr);
    HPULSEGEN micro = rcs->CreatePulseGenUnitEx(3, 1000, 1, 0, 30000);
    HPULSEGEN nano = rcs->CreatePulseGenUnitEx(0, 5000, 0, 1, 0);
    EXPECT_EQ(std::make_pair(rcs->GetPulseGenType(micro), rcs->GetPulseGenType(nano)), std::make_pair(ULONG{0}, ULONG{1}));
    EXPECT_EQ(rcs->SetPulseGenDurationEx(micro, 2000, 1, 30000), 1);
    const std::int64_t at = kiru::platform::NowUs() + 2000;
    EXPECT_EQ(rcs->SetPulseGenTime(micro, static_cast<double>(at), 0), 1);
    EXPECT_EQ(rcs->SetPulseGenTime(nano, static_cast<double>(at), 0), 1);
    ASSERT_TRUE(WaitUntil([] { return Station::Pulses("RCS", 0).size() == 2; }));
    const std::vector<kiru::sim::PulseInfo> pulses = Station::Pulses("RCS", 0);
    EXPECT_EQ(std::make_tuple(pulses[0].line, pulses[0].level, pulses[0].startUs, pulses[0].durationUs),
              std::make_tuple(3u, 1u, at, 2000.0));
    EXPECT_EQ(pulses[1].durationUs, 5.0);  // time reference 1 counts nanoseconds
    EXPECT_LE(at, kiru::platform::NowUs());

    // A deleted unit is gone; a pulse due later is never fired.
    EXPECT_EQ(rcs->SetPulseGenTime(nano, static_cast<double>(kiru::platform::NowUs()), 0), 1);
    EXPECT_EQ(rcs->DeletePulseGenUnit(micro), 1);
    EXPECT_EQ(rcs->DeletePulseGenUnit(micro), 0);
    EXPECT_EQ(rcs->GetPulseGenType(micro), 0xFFFFFFFFu);
    EXPECT_EQ(rcs->SetPulseGenTime(micro, 0.0, 0), 0);
    ASSERT_TRUE(WaitUntil([] { return Station::Pulses("RCS", 0).size() == 3; }));
    EXPECT_EQ(Station::Trace()[0], "RCS:0 CreatePulseGenUnitEx 3 1000 1 0 30000");
}

TEST_F(IoTest, PlcDataAddressAndChangeCallbacks) {
    Load("[RCS]\nPlcType = 2\nPlcIP = 10.0.0.7\nPlcMask = 255.255.255.0\nPlcName = line-4\n"
         "PlcMAC = 00:0e:8c:01:02:03\nPlcIn.4 = 0x34\n[GEV]\nParam.9 = 1\nParam.10 = 1\n");
    auto* rcs = dynamic_cast<CRCS*>(Open("RCS"));
    EXPECT_EQ(rcs->GetPlcType(), 2u);
    ULONG ip = 0, mask = 0;
    char name[64] = {};
    ASSERT_EQ(rcs->PlcGetIPAddress(&ip, &mask, name), 1);
    EXPECT_EQ(std::make_tuple(ip, mask, std::string(name)), std::make_tuple(0x0A000007u, 0xFFFFFF00u, "line-4"));
    unsigned char mac[6];
    rcs->PlcGetMACAddress(mac);
    EXPECT_EQ(std::vector<unsigned char>(mac, mac + 6), (std::vector<unsigned char>{0x00, 0x0E, 0x8C, 0x01, 0x02, 0x03}));

    unsigned char bytes[2] = {};
    ASSERT_EQ(rcs->PlcGetInputs(4, 2, bytes), 1);
    EXPECT_EQ(bytes[0], 0x34);
    EXPECT_EQ(rcs->PlcGetInputs(4095, 2, bytes), 0);
    float out[2] = {1.5f, -2.0f};
    ASSERT_EQ(rcs->PlcSetOutputsFloat(8, 2, out), 1);
    float back[2] = {};
    ASSERT_TRUE(Station::GetPlcOutputs("RCS", 0, 8, back, sizeof back));
    EXPECT_EQ(back[1], -2.0f);
    unsigned short words[2] = {7, 0xFFFF};
    rcs->PlcSetOutputsSigned16(0, 2, words);
    EXPECT_EQ(Station::Trace(), (std::vector<std::string>{"RCS:0 PlcSetOutputsFloat 8 2 1.5 -2",
                                                          "RCS:0 PlcSetOutputsSigned16 0 2 7 -1"}));

    Calls changes;
    HDATAIN watch = rcs->AddDataInChangeCallback(4, 2, 0, OnData, &changes);
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(rcs->AddDataInChangeCallback(4, 3, 0, OnData, &changes), nullptr);
    const unsigned char first[2] = {0x34, 0x12};
    ASSERT_TRUE(Station::SetPlcInputs("RCS", 0, 4, first, 2));
    ASSERT_TRUE(changes.WaitFor(1));
    EXPECT_NE(changes.threads[0], std::this_thread::get_id());
    Station::SetPlcInputs("RCS", 0, 4, first, 2);  // unchanged: no call
    const unsigned char second[1] = {0x99};
    Station::SetPlcInputs("RCS", 0, 5, second, 1);
    ASSERT_TRUE(changes.WaitFor(2));
    EXPECT_EQ(changes.values, (std::vector<std::uint64_t>{0x1234u, 0x9934u}));
    EXPECT_EQ(rcs->DelDataInChangeCallback(watch), 1);
    EXPECT_EQ(rcs->DelDataInChangeCallback(watch), 0);
    EXPECT_EQ(rcs->DelDataInChangeCallback(nullptr), 0);

    // A camera trigger on a PLC bit fires a frame of that GigE camera.
    CICamera* camera = Open("GEV")->GetCam(0);
    std::vector<unsigned char> buffer(640 * 480);
    void* address = buffer.data();
    HGRAB grab = camera->Grab(1, &address, 1, -1);
    ASSERT_NE(rcs->AddDataInChangeCamTrigger(0, 3, 0), nullptr);
    const unsigned char rising[1] = {0x08};
    Station::SetPlcInputs("RCS", 0, 0, rising, 1);
    EXPECT_EQ(camera->GrabWaitFrame(grab, &address, -1, 20000, 1, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(rcs->DelDataInChangeCamTrigger(0, 3, 0), 1);
    EXPECT_EQ(rcs->DelDataInChangeCamTrigger(0, 3, 0), 0);
    camera->GrabStop(grab);
}

TEST_F(IoTest, EntryPointsAreFoundByDecoratedNameAndCanBeAbsent) {
    Load("[QBM]\nParam.16403 = 0\n");
    HMODULE library = LoadLibraryW(L"ORV21.DLL");
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(LoadLibraryA("C:\\Windows\\orv21.dll"), library);
    auto open = reinterpret_cast<PFN_OrxGigeOpen>(GetProcAddress(library, "_OrxGigeOpen@0"));
    auto close = reinterpret_cast<PFN_OrxGigeClose>(GetProcAddress(library, "_OrxGigeClose@8"));
    ASSERT_NE(open, nullptr);
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(std::make_pair(open(), close(1, 1)), std::make_pair(1, 1));
    EXPECT_EQ(std::make_pair(Station::GigeOpenCount(), Station::GigeCloseCount()), std::make_pair(1, 1));
    EXPECT_EQ(GetProcAddress(library, "_NoSuchEntry@4"), nullptr);
    Station::SetEntryPointPresent("OrxGigeClose", false);
    EXPECT_EQ(GetProcAddress(library, "_OrxGigeClose@8"), nullptr);
    EXPECT_NE(GetProcAddress(library, "_OrxGigeOpen@0"), nullptr);

    auto start = reinterpret_cast<PFN_QbmAdvancedIOStart>(GetProcAddress(library, "QbmAdvancedIOStart"));
    auto stop = reinterpret_cast<PFN_QbmAdvancedIOStop>(GetProcAddress(library, "QbmAdvancedIOStop"));
    auto enqueue =
        reinterpret_cast<PFN_QbmAdvancedIOEnqueueDecision>(GetProcAddress(library, "QbmAdvancedIOEnqueueDecision"));
    ASSERT_TRUE(start && stop && enqueue);
    CICapMod* qbm = Open("QBM");
    enqueue(qbm, 1);  // the queue is not started yet
    start(qbm);
    enqueue(qbm, 2);
    ASSERT_TRUE(WaitUntil([] { return !Station::ReleasedDecisions("QBM", 0, -1).empty(); }));
    EXPECT_EQ(Station::ReleasedDecisions("QBM", 0, -1), std::vector<ULONG>{2});
    stop(qbm);
    EXPECT_EQ(Station::Trace().back(), "QBM:0 QbmAdvancedIOStop");
    EXPECT_EQ(FreeLibrary(library), TRUE);

    // Other libraries go to the system loader.
    HMODULE math = LoadLibraryA(kSystemMathLibrary);
    ASSERT_NE(math, nullptr);
    auto cosine = reinterpret_cast<double (*)(double)>(GetProcAddress(math, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(GetProcAddress(math, "_NoSuchEntry@4"), nullptr);
    EXPECT_EQ(FreeLibrary(math), TRUE);
    EXPECT_EQ(LoadLibraryA("no-such-library.dll"), nullptr);
}
