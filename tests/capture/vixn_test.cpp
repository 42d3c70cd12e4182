// Board scripts: the body and scheduled steps run on the board's clock at
// their times, conditionals choose what takes effect, registers are the
// module's register file, and deleting a script cancels what is pending.
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/orv.h"
#include "station_fixture.h"

using kiru::sim::Station;
using kiru::test::WaitUntil;

namespace {

// Records when its steps ran, relative to the start of its body.
class StepScript : public CVixn {
public:
    explicit StepScript(CModule* module) : CVixn(module, 10000.0, 1) {}

    CVixnEle start{this};
    CVixnEle steps{this};
    CVixnEle done{this};
    std::mutex mutex;
    std::vector<std::pair<char, long long>> ran;  // step, microseconds after start
    std::thread::id bodyThread;

protected:
    void Body() override {
        bodyThread = std::this_thread::get_id();
        start = ReadTimeMicro();
        Schedule(&StepScript::Late, CVixnEle(30000));
        Schedule(&StepScript::Early, 5000);
    }

private:
    void Record(char name) {
        std::lock_guard<std::mutex> lock(mutex);
        ran.emplace_back(name, ReadTimeMicro().Value() - StartMicro());
    }
    void Early() {
        Record('E');
        ++steps;
    }
    void Late() {
        Record('L');
        ++steps;
        done = 1;
    }
};

// Register work with a conditional, in the manner of an output pulse.
class RegisterScript : public CVixn {
public:
    RegisterScript(CModule* module, ULONG mask, ULONG levelBits)
        : CVixn(module, 10000.0, 5), m_mask(mask), m_level(levelBits) {}

    CVixnEle copy{this};
    CVixnEle level{this};
    CVixnEle done{this};

protected:
    void Body() override {
        level = m_level;
        copy = ReadReg(91, VIXN_OWN_MODULE);
        VixnIfThen(level == 0);
        copy &= ~CVixnEle(m_mask);
        VixnElseDo();
        copy |= m_mask;
        VixnIfThen(copy < 0);  // never true: nested and skipped
        WriteReg(92, 1, VIXN_OWN_MODULE);
        VixnEndif();
        VixnEndif();
        WriteReg(91, copy, VIXN_OWN_MODULE);
        WriteReg(93, 7, 12);  // another module: not reachable from a script
        done = 1;
    }

private:
    ULONG m_mask;
    ULONG m_level;
};

// Schedules a step far ahead; deleting the script must cancel it.
class FarScript : public CVixn {
public:
    explicit FarScript(CModule* module) : CVixn(module, 0.0, 1) {}
    CVixnEle bodyRan{this};

protected:
    void Body() override {
        bodyRan = 1;
        Schedule(&FarScript::Never, 60000000);
    }

private:
    void Never() { WriteReg(1, 1, VIXN_OWN_MODULE); }
};

class VixnTest : public kiru::test::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        Load("[LXP]\nModuleParam.91 = 0xF0\n");
        module.reset(OrxCreateCaptureModule("LXP", 0, nullptr));
        ASSERT_NE(module, nullptr);
    }
    ULONG Register(ULONG number) {
        ULONG v = 0;
        Station::GetModuleParam("LXP", 0, number, &v);
        return v;
    }
    std::unique_ptr<CICapMod> module;
};

}  // namespace

TEST_F(VixnTest, ConditionalsDecideWhatTakesEffect) {
    RegisterScript set(module.get(), 0x3, 1);
    ASSERT_EQ(set.Create(), 1);
    ASSERT_TRUE(WaitUntil([&] { return set.done.GetBaseVal() == 1.0; }));
    EXPECT_EQ(Register(91), 0xF3u);
    EXPECT_EQ(Register(92), 0u);
    EXPECT_EQ(Register(93), 0u);

    RegisterScript clear(module.get(), 0x30, 0);
    ASSERT_EQ(clear.Create(), 1);
    ASSERT_TRUE(WaitUntil([&] { return clear.done.GetBaseVal() == 1.0; }));
    EXPECT_EQ(Register(91), 0xC3u);
    EXPECT_EQ(clear.copy.GetBaseVal(), static_cast<double>(0xC3));
    // Script register writes reach the module's register file and the trace.
    EXPECT_EQ(module->GetModuleParam(91), 0xC3u);
    const std::vector<std::string> trace = Station::Trace();
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace[trace.size() - 2], "LXP:0 VixnWriteReg 91 195");
    EXPECT_EQ(trace.back().rfind("LXP:0 BoardWrite 91 195 ", 0), 0u);
}

TEST_F(VixnTest, HostSideVariablesAndOperators) {
    CVixnEle a(6), b(4);
    EXPECT_EQ((std::vector<long long>{(a + b).Value(), (a - b).Value(), (a | b).Value(), (a & b).Value(),
                                      (a < b).Value(), (b < a).Value(), (a == 6).Value(), (~CVixnEle(0)).Value()}),
              (std::vector<long long>{10, 2, 6, 4, 0, 1, 1, -1}));
    a += 1;
    a++;
    ++a;
    EXPECT_EQ(a.GetBaseVal(), 9.0);
    a = b;
    EXPECT_EQ(a.Value(), 4);
}

// Steps run on the board's clock at their times, on the board's thread;
// deleting a script cancels what it has pending.
TEST_F(VixnTest, StepsRunAtTheirTimesAndDeletingAScriptCancelsItsPendingSteps) {
    auto distant = std::make_unique<FarScript>(module.get());
    ASSERT_EQ(distant->Create(), 1);
    ASSERT_TRUE(WaitUntil([&] { return distant->bodyRan.GetBaseVal() == 1.0; }));
    distant.reset();
    // A later script on the same board still runs at once: the far step is gone.
    StepScript script(module.get());
    EXPECT_EQ(script.Create(), 1);
    EXPECT_EQ(script.Create(), 0);  // started once
    ASSERT_TRUE(WaitUntil([&] { return script.done.GetBaseVal() == 1.0; }));
    EXPECT_EQ(Register(1), 0u);
    EXPECT_EQ(script.steps.GetBaseVal(), 2.0);
    EXPECT_GE(script.start.Value(), script.StartMicro());
    EXPECT_NE(script.bodyThread, std::this_thread::get_id());
    {
        std::lock_guard<std::mutex> lock(script.mutex);
        ASSERT_EQ(script.ran.size(), 2u);
        EXPECT_EQ(script.ran[0].first, 'E');
        EXPECT_GE(script.ran[0].second, 5000);
        EXPECT_EQ(script.ran[1].first, 'L');
        EXPECT_GE(script.ran[1].second, 30000);
    }

    // A script on a module object deleted before it is created still starts: the board outlives the object.
    std::unique_ptr<CICapMod> other(OrxCreateCaptureModule("LXP", 0, nullptr));
    RegisterScript orphan(other.get(), 1, 1);
    other.reset();
    ASSERT_EQ(orphan.Create(), 1);
    ASSERT_TRUE(WaitUntil([&] { return orphan.done.GetBaseVal() == 1.0; }));
    RegisterScript nowhere(nullptr, 1, 1);
    EXPECT_EQ(nowhere.Create(), 0);
}
