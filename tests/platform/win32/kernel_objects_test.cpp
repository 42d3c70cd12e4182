// The typed kernel objects over Win32 handles: names shared between
// creations and refused across kinds, abandoned mutexes, semaphore limits,
// and owned threads with their exit codes and priorities.
#include <gtest/gtest.h>

#include <string>

#include "platform/event.h"
#include "platform/mutex.h"
#include "platform/semaphore.h"
#include "platform/thread.h"

using kiru::platform::Event;
using kiru::platform::Mutex;
using kiru::platform::Semaphore;
using kiru::platform::Thread;

namespace {

std::string UniqueName(const char* what) {
    return std::string("kiru test ") + what + " " + std::to_string(::GetCurrentProcessId());
}

}  // namespace

TEST(Win32KernelObjects, NamesAreSharedBetweenCreationsAndRefusedAcrossKinds) {
    bool existed = true;
    Event first = Event::OpenNamed(UniqueName("event"), true, false, &existed);
    ASSERT_TRUE(first.Valid());
    EXPECT_FALSE(existed);
    Event second = Event::OpenNamed(UniqueName("event"), false, false, &existed);
    ASSERT_TRUE(second.Valid());
    EXPECT_TRUE(existed);
    first.Set();  // the same (manual-reset) event: its mode is kept
    EXPECT_EQ(second.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(second.Wait(0), WAIT_OBJECT_0);

    EXPECT_FALSE(Mutex::OpenNamed(UniqueName("event"), false, &existed).Valid());
    EXPECT_FALSE(Semaphore::OpenNamed(UniqueName("event"), 0, 1, &existed).Valid());
    EXPECT_FALSE(Semaphore::OpenNamed(UniqueName("semaphore"), 2, 1, &existed).Valid());

    // A handle made from a typed object is one more reference to the object.
    HANDLE handle = first.NewHandle();
    EXPECT_TRUE(Event::FromHandle(handle).Valid());
    EXPECT_FALSE(Mutex::FromHandle(handle).Valid());
    EXPECT_TRUE(CloseHandle(handle));
}

TEST(Win32KernelObjects, AMutexLeftByAnEndingOwnerIsAbandonedToTheNextTaker) {
    Mutex mutex(false);
    Thread owner;
    ASSERT_TRUE(owner.Start([&] { mutex.Lock(); }));
    ASSERT_TRUE(owner.Join(20000));
    EXPECT_EQ(mutex.Wait(0), WAIT_ABANDONED_0);
    EXPECT_TRUE(mutex.TryLock());  // re-entrant for its new owner
    EXPECT_TRUE(mutex.Unlock());
    EXPECT_TRUE(mutex.Unlock());
    EXPECT_FALSE(mutex.Unlock());  // no longer the owner
}

TEST(Win32KernelObjects, SemaphoreReleasesStopAtTheMaximum) {
    Semaphore semaphore(1, 2);
    LONG previous = -1;
    EXPECT_EQ(semaphore.Release(1, &previous), Semaphore::ReleaseResult::Released);
    EXPECT_EQ(previous, 1);
    EXPECT_EQ(semaphore.Release(1), Semaphore::ReleaseResult::TooManyPosts);
    EXPECT_EQ(semaphore.Release(0), Semaphore::ReleaseResult::InvalidCount);
    EXPECT_EQ(semaphore.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(semaphore.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(semaphore.Wait(0), WAIT_TIMEOUT);
}

TEST(Win32KernelObjects, ThreadsReportTheirIdsExitCodesAndTakePriorities) {
    Event go(true, false);
    DWORD seenId = 0;
    Thread thread;
    ASSERT_TRUE(thread.Start(std::function<DWORD()>([&]() -> DWORD {
        seenId = ::GetCurrentThreadId();
        go.Wait(20000);
        return 42;
    })));
    EXPECT_EQ(thread.ExitCode(), STILL_ACTIVE);
    EXPECT_FALSE(thread.Join(0));
    EXPECT_TRUE(thread.SetTimeCritical());
    EXPECT_FALSE(thread.SetPriority(1234));
    const DWORD id = thread.Id();
    go.Set();
    ASSERT_TRUE(thread.Join(20000));
    EXPECT_EQ(seenId, id);
    EXPECT_EQ(thread.ExitCode(), 42u);
    EXPECT_FALSE(thread.SetPriority(THREAD_PRIORITY_NORMAL));  // nothing left to set
}
