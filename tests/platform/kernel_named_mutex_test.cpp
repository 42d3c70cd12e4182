// Named mutexes: a second creation of the same name, in this process or in
// another one, succeeds with ERROR_ALREADY_EXISTS; the name is free again
// once every handle is closed (or the holding process has ended).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel.h"
#include "platform/text.h"

extern char** environ;

namespace {

constexpr const char* kChildName = "KIRU_TEST_NAMED_MUTEX_CHILD";
constexpr const char* kChildHoldFds = "KIRU_TEST_NAMED_MUTEX_HOLD_FDS";
constexpr int kChildSawExisting = 10;
constexpr int kChildSawNew = 11;

// The helper process: this test program started again with the name in its
// environment. It creates the named mutex and reports through its exit
// status whether the name existed. In hold mode it first writes that answer
// to a pipe and keeps the mutex until its other pipe is closed. It runs
// during static initialisation, so no test runs in the child.
int RunAsChildIfAsked() {
    const char* name = std::getenv(kChildName);
    if (!name) return 0;
    std::wstring wide = kiru::platform::NarrowToWideString(name);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, wide.c_str());
    int status = !mutex ? 12 : GetLastError() == ERROR_ALREADY_EXISTS ? kChildSawExisting : kChildSawNew;
    if (const char* fds = std::getenv(kChildHoldFds)) {
        int answerFd = -1, holdFd = -1;
        if (std::sscanf(fds, "%d,%d", &answerFd, &holdFd) == 2) {
            char answer = static_cast<char>(status);
            (void)!::write(answerFd, &answer, 1);
            char byte;
            while (::read(holdFd, &byte, 1) > 0) {
            }
        }
    }
    CloseHandle(mutex);
    std::_Exit(status);
}
const int kChildMarker = RunAsChildIfAsked();

std::string UniqueName(const char* what) {
    static int counter = 0;
    return std::string("kiru test ") + what + " " + std::to_string(::getpid()) + "/" + std::to_string(++counter);
}

std::wstring Wide(const std::string& text) { return kiru::platform::NarrowToWideString(text.c_str()); }

// Starts the helper for `name`; `holdFds` ("answerFd,holdFd") selects hold mode.
pid_t SpawnChild(const std::string& name, const std::string& holdFds = {}) {
    std::vector<std::string> variables;
    for (char** e = environ; *e; ++e) variables.emplace_back(*e);
    variables.push_back(std::string(kChildName) + "=" + name);
    if (!holdFds.empty()) variables.push_back(std::string(kChildHoldFds) + "=" + holdFds);
    std::vector<char*> envp;
    for (auto& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    char exe[] = "/proc/self/exe";
    char* argv[] = {exe, nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, exe, nullptr, nullptr, argv, envp.data()) != 0) return -1;
    return pid;
}

int ExitStatusOf(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

TEST(KernelNamedMutex, SecondCreationInProcessSharesTheMutexAndSaysItExisted) {
    const std::wstring name = Wide(UniqueName("mutex"));
    SetLastError(1234);
    HANDLE first = CreateMutexW(nullptr, FALSE, name.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), 0u);

    HANDLE second = CreateMutexW(nullptr, TRUE, name.c_str());  // ownership request ignored
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_NE(first, second);
    EXPECT_FALSE(ReleaseMutex(second));  // not owned

    // Both handles reach one mutex: held through one, busy through the other.
    ASSERT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
    DWORD other = WAIT_FAILED;
    std::thread([&] { other = WaitForSingleObject(second, 0); }).join();
    EXPECT_EQ(other, WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(second));

    CloseHandle(first);
    CloseHandle(second);
    HANDLE again = CreateMutexW(nullptr, FALSE, name.c_str());
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(again);
}

TEST(KernelNamedMutex, NameOfAnotherKindIsRefused) {
    const std::wstring name = Wide(UniqueName("kind"));
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    SetLastError(0);
    EXPECT_EQ(CreateEventW(nullptr, FALSE, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(CreateSemaphoreW(nullptr, 0, 1, name.c_str()), nullptr);
    CloseHandle(mutex);
}

TEST(KernelNamedMutex, NamedEventsAreSharedWithinTheProcess) {
    const std::wstring name = Wide(UniqueName("event"));
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    EXPECT_EQ(GetLastError(), 0u);
    HANDLE second = CreateEventW(nullptr, FALSE, TRUE, name.c_str());
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);  // first's state and mode kept
    SetEvent(first);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);  // manual reset
    CloseHandle(first);
    CloseHandle(second);
}

TEST(KernelNamedMutex, AnotherProcessSeesTheNameWhileAHandleIsOpen) {
    const std::string name = UniqueName("cross");
    HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(name).c_str());
    ASSERT_NE(mutex, nullptr);
    pid_t child = SpawnChild(name);
    ASSERT_GT(child, 0);
    EXPECT_EQ(ExitStatusOf(child), kChildSawExisting);

    CloseHandle(mutex);
    child = SpawnChild(name);
    ASSERT_GT(child, 0);
    EXPECT_EQ(ExitStatusOf(child), kChildSawNew);
}

TEST(KernelNamedMutex, NameHeldByAnotherProcessExistsHereUntilItEnds) {
    const std::string name = UniqueName("held");
    int answer[2], hold[2];
    ASSERT_EQ(::pipe(answer), 0);
    ASSERT_EQ(::pipe(hold), 0);
    // The child must not inherit the parent's ends, or its pipe never closes.
    ::fcntl(answer[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(hold[1], F_SETFD, FD_CLOEXEC);
    pid_t child = SpawnChild(name, std::to_string(answer[1]) + "," + std::to_string(hold[0]));
    ::close(answer[1]);
    ::close(hold[0]);
    ASSERT_GT(child, 0);

    char childSaw = 0;
    ASSERT_EQ(::read(answer[0], &childSaw, 1), 1);
    EXPECT_EQ(childSaw, kChildSawNew);

    HANDLE mutex = CreateMutexW(nullptr, TRUE, Wide(name).c_str());
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(ReleaseMutex(mutex));  // existed: the ownership request was ignored
    CloseHandle(mutex);

    ::close(hold[1]);  // lets the child close its handle and end
    EXPECT_EQ(ExitStatusOf(child), kChildSawNew);
    ::close(answer[0]);

    mutex = CreateMutexW(nullptr, FALSE, Wide(name).c_str());
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(mutex);
}
