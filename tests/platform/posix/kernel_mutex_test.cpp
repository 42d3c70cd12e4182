// Mutexes: re-entrant for the owner, released only by the owner, handed to
// a sleeping waiter, abandoned when the owner ends holding them. Named
// objects: a second creation of the same name, in this process or in
// another one, succeeds with ERROR_ALREADY_EXISTS; the name is free again
// once every handle is closed (or the holding process has ended).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel_test_helpers.h"
#include "platform/event.h"
#include "platform/mutex.h"
#include "platform/text.h"
#include "support/child_process.h"

using kiru::platform::Event;
using kiru_test::OnOtherThread;
using kiru_test::Sleepers;

namespace {

// What another thread gets from a zero-time wait (and gives back at once).
DWORD OtherThreadTakes(HANDLE mutex) {
    return OnOtherThread([&] {
        const DWORD r = WaitForSingleObject(mutex, 0);
        if (r == WAIT_OBJECT_0) ReleaseMutex(mutex);
        return r;
    });
}

constexpr const char* kChildName = "KIRU_TEST_NAMED_MUTEX_CHILD";

// The helper process: this test program started again with a mutex name in
// its environment. It creates the named mutex, prints whether the name
// existed and keeps the mutex until its standard input closes. It runs
// during static initialisation, so no test runs in the child.
int RunAsChildIfAsked() {
    const char* name = std::getenv(kChildName);
    if (!name) return 0;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kiru::platform::NarrowToWideString(name).c_str());
    std::fputs(!mutex ? "failed\n" : GetLastError() == ERROR_ALREADY_EXISTS ? "existing\n" : "new\n", stdout);
    std::fflush(stdout);
    while (std::fgetc(stdin) != EOF) {
    }
    CloseHandle(mutex);
    std::_Exit(0);
}
const int kChildMarker = RunAsChildIfAsked();

// Another process holding the named mutex `name` until End.
class Child {
public:
    explicit Child(const std::string& name) {
        std::string why;
        if (!child_.Start(kiru_test::SelfExecutable(), {}, {std::string(kChildName) + "=" + name}, &why))
            ADD_FAILURE() << why;
        child_.ReadUntil("\n");
    }
    ~Child() { End(); }
    // Whether the name existed when the child created its mutex: "existing\n" or "new\n".
    const std::string& Saw() const { return child_.Output(); }
    // Lets the child close its handle and end, and reaps it.
    void End() { child_.Wait(); }

private:
    kiru_test::ChildProcess child_;
};

std::string UniqueName(const char* what) {
    static int counter = 0;
    return std::string("kiru test ") + what + " " + std::to_string(::getpid()) + "/" + std::to_string(++counter);
}

std::wstring Wide(const std::string& text) { return kiru::platform::NarrowToWideString(text.c_str()); }

}  // namespace

TEST(KernelMutex, OwnerReentersAndOnlyTheOwnerReleases) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // second level
    DWORD error = 0;
    EXPECT_FALSE(OnOtherThread([&] {
        const BOOL ok = ReleaseMutex(mutex);
        error = GetLastError();
        return ok;
    }));
    EXPECT_EQ(error, ERROR_NOT_OWNER);
    EXPECT_EQ(OtherThreadTakes(mutex), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(OtherThreadTakes(mutex), WAIT_TIMEOUT);  // one level still held
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(OtherThreadTakes(mutex), WAIT_OBJECT_0);
    SetLastError(0);
    EXPECT_FALSE(ReleaseMutex(mutex));  // no level left
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    CloseHandle(mutex);
}

TEST(KernelMutex, ReleaseHandsTheMutexToTheSleepingWaiter) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
    Event got(true, false), done(true, false);
    Sleepers waiter(1, [&] {
        const DWORD r = WaitForSingleObject(mutex, 20000);
        got.Set();
        done.Wait(20000);
        ReleaseMutex(mutex);
        return r;
    });
    ASSERT_TRUE(waiter.asleep);
    EXPECT_TRUE(ReleaseMutex(mutex));
    // Already the waiter's, even if it has not run yet: the releaser cannot take it back.
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
    EXPECT_EQ(got.Wait(20000), WAIT_OBJECT_0);
    done.Set();
    EXPECT_EQ(waiter.Result(0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

TEST(KernelMutex, AThreadEndingWhileHoldingAbandonsItsMutexes) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    Event locked(true, false), finish(true, false);
    std::thread owner([&] {
        WaitForSingleObject(mutex, 0);
        WaitForSingleObject(mutex, 0);  // two levels, neither released
        locked.Set();
        finish.Wait(20000);
    });
    ASSERT_EQ(locked.Wait(20000), WAIT_OBJECT_0);
    BOOL waiterReleased = FALSE;
    Sleepers waiter(1, [&] {
        const DWORD r = WaitForSingleObject(mutex, 20000);
        waiterReleased = ReleaseMutex(mutex);  // it became the owner
        return r;
    });
    ASSERT_TRUE(waiter.asleep);
    finish.Set();
    owner.join();
    EXPECT_EQ(waiter.Result(0), WAIT_ABANDONED_0);
    EXPECT_TRUE(waiterReleased);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // abandonment is reported once
    ReleaseMutex(mutex);

    // A thread's handle is signalled only after its mutexes are abandoned;
    // a wait on several objects reports the abandoned one's index.
    HANDLE thread = CreateThread(
        nullptr, 0, [](void* m) -> DWORD { return WaitForSingleObject(static_cast<HANDLE>(m), 0); }, mutex, 0,
        nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
    HANDLE unsignalled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE set[2] = {unsignalled, mutex};
    EXPECT_EQ(WaitForMultipleObjects(2, set, FALSE, 0), WAIT_ABANDONED_0 + 1);
    EXPECT_TRUE(ReleaseMutex(mutex));
    for (HANDLE h : {thread, unsignalled, mutex}) CloseHandle(h);
}

TEST(KernelMutex, TypedMutexWorksWithStandardLocks) {
    kiru::platform::Mutex mutex(false);
    kiru::platform::Mutex copy = mutex;  // the same mutex
    int counter = 0;
    int timedIncrements = 0;
    std::thread other([&] {
        for (int i = 0; i < 1000; ++i) {
            if (!copy.TryLock(1)) continue;  // short timed attempts race with hand-overs
            ++counter;
            ++timedIncrements;
            copy.Unlock();
        }
    });
    for (int i = 0; i < 1000; ++i) {
        std::lock_guard<kiru::platform::Mutex> guard(mutex);
        std::lock_guard<kiru::platform::Mutex> again(mutex);  // re-entrant
        ++counter;
    }
    other.join();
    EXPECT_EQ(counter, 1000 + timedIncrements);
    EXPECT_FALSE(mutex.Unlock());
}

TEST(KernelNamedObjects, ASecondCreationInTheProcessSharesTheObject) {
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
    EXPECT_EQ(OtherThreadTakes(second), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(second));

    // The name cannot be used for another kind of object.
    SetLastError(0);
    EXPECT_EQ(CreateEventW(nullptr, FALSE, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(CreateSemaphoreW(nullptr, 0, 1, name.c_str()), nullptr);
    CloseHandle(first);
    CloseHandle(second);
    HANDLE again = CreateMutexW(nullptr, FALSE, name.c_str());
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(again);

    // Named events keep the first creation's state and mode.
    const std::wstring eventName = Wide(UniqueName("event"));
    first = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    EXPECT_EQ(GetLastError(), 0u);
    second = CreateEventW(nullptr, FALSE, TRUE, eventName.c_str());
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
    SetEvent(first);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);  // manual reset
    CloseHandle(first);
    CloseHandle(second);
}

TEST(KernelNamedObjects, ANamedMutexIsSharedWithOtherProcessesWhileAHandleIsOpen) {
    const std::string name = UniqueName("cross");
    HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(name).c_str());
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(Child(name).Saw(), "existing\n");
    CloseHandle(mutex);

    Child holder(name);
    EXPECT_EQ(holder.Saw(), "new\n");
    mutex = CreateMutexW(nullptr, TRUE, Wide(name).c_str());
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(ReleaseMutex(mutex));  // existed: the ownership request was ignored
    CloseHandle(mutex);
    holder.End();
    mutex = CreateMutexW(nullptr, FALSE, Wide(name).c_str());
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(mutex);
}
