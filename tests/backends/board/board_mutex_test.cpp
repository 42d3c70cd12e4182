// The board mutex across processes: while another process holds a board's
// named mutex open, Initialize reports the hardware in use; once that
// process is gone (even killed), the board opens again. The other process
// is this test program, started in its holder mode.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "backends/board/board_fixture.h"
#include "platform/kernel.h"

extern char** environ;

namespace kiru_test {
namespace {

constexpr const char* kHoldVariable = "KIRU_TEST_HOLD_MUTEX";

// Holder mode: opens the named mutex, says so, and keeps it until its
// standard input closes or it is killed.
TEST(BoardMutexHolder, Hold) {
    const char* name = std::getenv(kHoldVariable);
    if (name == nullptr) GTEST_SKIP() << "runs only as the holder of another test";
    std::wstring wide(name, name + std::strlen(name));
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, wide.c_str());
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(::write(1, "HELD\n", 5), 5);
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    ::CloseHandle(mutex);
}

// A second process holding `name`; killed (not asked) by Kill.
class Holder {
public:
    bool Start(const char* name) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
        env.push_back(std::string(kHoldVariable) + "=" + name);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        char self[] = "/proc/self/exe";
        char filter[] = "--gtest_filter=BoardMutexHolder.Hold";
        char* argv[] = {self, filter, nullptr};
        const int rc = posix_spawn(&m_pid, "/proc/self/exe", &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_stdin = in[1];
        if (rc != 0) {
            ::close(out[0]);
            return false;
        }
        // Wait for the holder's word (gtest's own lines come first).
        std::string seen;
        char c;
        while (seen.find("HELD") == std::string::npos && ::read(out[0], &c, 1) == 1) seen += c;
        ::close(out[0]);
        return seen.find("HELD") != std::string::npos;
    }
    void Kill() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    ~Holder() {
        Kill();
        if (m_stdin >= 0) ::close(m_stdin);
    }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
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
