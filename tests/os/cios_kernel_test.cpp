// CiOS's kernel wrappers reach the platform's objects.
#include <gtest/gtest.h>

#include <kiru/cios.h>
#include <thread>

TEST(CiOSKernel, SemaphoreAndMutexBehaveAsThePlatformsObjects) {
    HANDLE semaphore = CiOS::CreateSemaphoreW(nullptr, 0, 1, nullptr);
    ASSERT_NE(semaphore, nullptr);
    EXPECT_EQ(CiOS::WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    LONG previous = -1;
    EXPECT_TRUE(CiOS::ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(CiOS::ReleaseSemaphore(semaphore, 1, nullptr));  // past the maximum
    EXPECT_EQ(CiOS::WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CiOS::CloseHandle(semaphore));
    EXPECT_FALSE(CiOS::CloseHandle(semaphore));

    HANDLE mutex = CiOS::CreateMutexW(nullptr, TRUE, nullptr);
    ASSERT_NE(mutex, nullptr);
    DWORD fromOtherThread = 0;
    std::thread([&] { fromOtherThread = CiOS::WaitForSingleObject(mutex, 0); }).join();
    EXPECT_EQ(fromOtherThread, WAIT_TIMEOUT);  // owned by this thread
    EXPECT_TRUE(CiOS::ReleaseMutex(mutex));
    EXPECT_FALSE(CiOS::ReleaseMutex(mutex));
    EXPECT_TRUE(CiOS::CloseHandle(mutex));
    EXPECT_NE(CiOS::GetCurrentThread(), nullptr);
    CiOS::SetThreadPriority(CiOS::GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    CiOS::Sleep(0);
}
