// GigE back-end: camera settings saved to and loaded from the client's
// storage, with the in-memory storage of the test support.
#include "gev_fixture.h"
#include "support/memory_storage.h"

namespace kiru_test {
namespace {

std::vector<std::string> Keys(const MemoryStorage& store, const std::string& op, const std::string& prefix) {
    std::vector<std::string> keys;
    for (const auto& call : store.Calls())
        if (call.op.compare(0, op.size(), op) == 0 && call.key.rfind(prefix, 0) == 0) keys.push_back(call.key);
    return keys;
}

TEST_F(GevTest, SettingsSavedFromOneObjectComeBackInAFreshOne) {
    const std::string station = Camera(0, "Param.74 = 1\nParam.77 = 1\n") + Camera(1);
    Open(station);
    grab->SetASyncMode(1);
    for (int c = 0; c < 2; ++c) {
        grab->SetClientActiveCamera(c);
        grab->SetExposure(1234.5 + c, -1);
        grab->SetBrightness(40 + c);
        grab->SetContrast(60 + c);
    }
    grab->SetClientActiveCamera(0);
    grab->SetCamParam(77, 2.5, 0);
    MemoryStorage saved;
    ASSERT_EQ(grab->SaveStorage(&saved), 1);
    EXPECT_EQ(saved.ValueOf("Cam1.ExposureFloat"), 1235.5);
    EXPECT_EQ(saved.ValueOf("Cam0.Exposure"), 1234);
    EXPECT_EQ(saved.ValueOf("Cam0.GainRed"), 2.5);
    grab.reset();

    // The hardware forgets; a fresh object loading the record sets it again.
    Open(station);
    grab->SetASyncMode(1);
    Station::SetParam("GEV", 0, 0, 77, 1.0);
    Station::ClearTrace();
    ASSERT_EQ(grab->LoadStorage(&saved), 1);
    double red = 0, exposure = 0;
    ASSERT_TRUE(Station::GetParam("GEV", 0, 0, 77, &red));
    EXPECT_EQ(red, 2.5);
    ASSERT_TRUE(Station::GetParam("GEV", 1, 0, 0x4000, &exposure));
    EXPECT_GT(exposure, 0.0);
    EXPECT_EQ(grab->GetCamExposure(1), 1235.5);
    EXPECT_EQ(grab->GetCamBrightness(1), 41u);
    MemoryStorage again;
    grab->SaveStorage(&again);
    for (const char* key : {"Cam0.Exposure", "Cam0.ExposureFloat", "Cam1.Brightness", "Cam1.Contrast", "Cam0.GainRed",
                            "Cam1.TrigMethod", "Cam1.TrigScaler"})
        EXPECT_EQ(again.ValueOf(key), saved.ValueOf(key)) << key;
}

TEST_F(GevTest, AFailedWriteEndsTheCameraKeysQuietly) {
    Open(Camera(0) + Camera(1));
    MemoryStorage refusing;
    refusing.Break();
    EXPECT_EQ(grab->SaveStorage(&refusing), 1);
    EXPECT_EQ(Keys(refusing, "Set", ""), (std::vector<std::string>{"GPI0.Debounce", "Cam0.Exposure"}));

    // n: which camera write fails (after the 288 line writes); then how many camera keys were stored.
    struct Case {
        int n;
        std::size_t stored;
    } cases[] = {{1, 0}, {3, 2}, {11, 10}, {12, 11}};  // 11 keys per camera without colour or line scan
    for (const Case& c : cases) {
        MemoryStorage store;
        store.FailWrite(288 + c.n);
        grab->SaveStorage(&store);
        EXPECT_EQ(store.Size(), 288 + c.stored) << c.n;
    }
}

TEST_F(GevTest, LoadingFollowsTheKeyRules) {
    // Exposure keys: a float of 0 is ignored, an integer of 0 is applied.
    Open(Camera(0));
    grab->SetExposure(500.0, -1);
    MemoryStorage floatZero;
    floatZero.Put("Cam0.ExposureFloat", MemoryStorage::Type::Double, 0.0);
    grab->LoadStorage(&floatZero);
    EXPECT_EQ(grab->GetCamExposure(0), 500.0);
    MemoryStorage intZero;
    intZero.Put("Cam0.Exposure", MemoryStorage::Type::ULong, 0);
    grab->LoadStorage(&intZero);
    EXPECT_EQ(grab->GetCamExposure(0), 0.0);

    // Trigger delay: 5 enables it with 5, 0 turns it off again.
    for (ULONG delay : {5u, 0u}) {
        MemoryStorage store;
        store.Put("Cam0.TrigDelay", MemoryStorage::Type::ULong, delay);
        grab->LoadStorage(&store);
        MemoryStorage saved;
        grab->SaveStorage(&saved);
        EXPECT_EQ(saved.ValueOf("Cam0.TrigDelay"), delay);
        EXPECT_EQ(grab->GetExternalTriggerDelayEnable(), delay >= 1 ? 1 : 0);
    }
    grab.reset();

    // Three tiled cameras: only camera 0's keys are read, every camera's are saved.
    Open(Camera(0) + Camera(1) + Camera(2));
    grab->SetTiling(3, 1);
    MemoryStorage tiled;
    grab->LoadStorage(&tiled);
    EXPECT_TRUE(Keys(tiled, "Get", "Cam1.").empty());
    EXPECT_FALSE(Keys(tiled, "Get", "Cam0.").empty());
    grab->SaveStorage(&tiled);
    EXPECT_TRUE(tiled.Has("Cam2.TrigScaler"));
    EXPECT_FALSE(tiled.Has("Cam0.GainRed"));  // no Bayer colour: no gains saved
    grab.reset();

    // Synchronous mode: camera 1's method is not read; gains load without colour.
    Open(Camera(0) + Camera(1));
    MemoryStorage sync;
    sync.Put("Cam1.TrigMethod", MemoryStorage::Type::ULong, 4);
    sync.Put("Cam1.GainBlue", MemoryStorage::Type::Double, 3.0);
    grab->LoadStorage(&sync);
    EXPECT_TRUE(Keys(sync, "Get", "Cam1.TrigMethod").empty());
    EXPECT_FALSE(Keys(sync, "Get", "Cam0.TrigMethod").empty());
    EXPECT_TRUE(Traced("GEV:1/0 SetAcqParam 79 3 0"));
}

}  // namespace
}  // namespace kiru_test
