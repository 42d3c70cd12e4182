// The board mutex across processes: while another process holds a board's
// named mutex open, Initialize reports the hardware in use; once that
// process is gone (even killed), the board opens again. The other process
// is this test program, started in its holder mode.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "backends/board/board_fixture.h"
#include "platform/kernel.h"
#include "support/child_process.h"

namespace kiru_test {
namespace {

constexpr const char* kHoldVariable = "KIRU_TEST_HOLD_MUTEX";

// Holder mode: opens the named mutex, says so, and keeps it until its
// standard input closes or it is killed; then the program ends without
// running a test. It runs as a global environment, so the program's statics
// are all set up and no test of its own shows in the test list.
class HolderMode : public ::testing::Environment {
public:
    void SetUp() override {
        const char* name = std::getenv(kHoldVariable);
        if (name == nullptr) return;
        std::wstring wide(name, name + std::strlen(name));
        HANDLE mutex = ::CreateMutexW(nullptr, TRUE, wide.c_str());
        if (mutex == nullptr) std::exit(1);
        std::fputs("HELD\n", stdout);
        std::fflush(stdout);
        while (std::fgetc(stdin) != EOF) {
        }
        ::CloseHandle(mutex);
        std::exit(0);
    }
};
::testing::Environment* const kHolderMode = ::testing::AddGlobalTestEnvironment(new HolderMode);

// A second process holding `name`; killed (not asked) by Kill.
class Holder {
public:
    bool Start(const char* name) {
        std::string why;
        if (!child_.Start(SelfExecutable(), {},
                          {std::string(kHoldVariable) + "=" + name}, &why)) {
            ADD_FAILURE() << why;
            return false;
        }
        // gtest's own lines come first.
        return child_.ReadUntil("HELD");
    }
    void Kill() { child_.Kill(); }

private:
    ChildProcess child_;
};

class BoardMutexTest : public BoardTest {};

TEST_F(BoardMutexTest, AnotherProcessHoldingTheBoardBlocksInitialize) {
    const struct {
        const char* mutex;
        const char* module;
        const char* station;
        std::function<IXGrab*()> make;
    } cases[] = {
        {"BrdMutex_LXP0", "LXP", "[LXP]\n", [] { return new CIGrabLX2(); }},
        {"BrdMutex_QBM0", "QBM", "[QBM]\n", [] { return new CIGrabQB2(); }},
    };
    for (const auto& c : cases) {
        Load(c.station);
        Holder holder;
        ASSERT_TRUE(holder.Start(c.mutex)) << c.mutex;
        Heard heard;
        std::unique_ptr<IXGrab> busy(c.make());
        busy->SetDbgCatcher(&Heard::Catch, &heard);
        EXPECT_EQ(busy->Initialize(), 0) << c.mutex;
        EXPECT_TRUE(heard.Contains(
            "Kelm Vision Appliance: Hardware is in use. Close all Kelm applications before running this program."));
        EXPECT_EQ(Station::OpenModuleCount(c.module, 0), 0);
        // Two objects of this process do not block each other.
        holder.Kill();  // the holder dies holding the mutex
        std::unique_ptr<IXGrab> first(c.make());
        std::unique_ptr<IXGrab> second(c.make());
        EXPECT_EQ(first->Initialize(), 1) << c.mutex;
        EXPECT_EQ(second->Initialize(), 1) << c.mutex;
        first->Terminate();
        second->Terminate();
    }
}

}  // namespace
}  // namespace kiru_test
