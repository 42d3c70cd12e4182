// Emulator acquisition: the producer, callback and trash threads and the five
// semaphores that join them, composing a frame from files, and the ring.
//
// Ring use with buffer count N: buffers 0 to N - 2 rotate as the ring and
// buffer N - 1 is the trash buffer, whose pointer and counters the trash
// callback receives. The producer writes the write index and locks the
// buffers it fills; the callback thread writes the read index and unlocks
// what it delivered. The semaphores order these hand-overs; flags and
// counters that two threads touch outside that order are read and written
// atomically.
#include <kiru/cigrab_emu.h>

#include <algorithm>
#include <cstring>

#include "os/path_buffer.h"
#include "platform/bitmap.h"
#include "platform/kernel.h"

namespace {

constexpr std::size_t kThreadStack = 32768;
constexpr DWORD kCallbackThreadExit = 213;
constexpr DWORD kTrashThreadExit = 214;

template <typename T>
T Load(const T& field) {
    return __atomic_load_n(&field, __ATOMIC_ACQUIRE);
}

template <typename T>
void Store(T& field, T value) {
    __atomic_store_n(&field, value, __ATOMIC_RELEASE);
}

void Release(HANDLE semaphore) {
    if (semaphore != nullptr) ::ReleaseSemaphore(semaphore, 1, nullptr);
}

// Joins a thread, unless it is the calling one: a thread stopped from inside
// its own callback ends once the callback returns, and is joined by the next
// Start, Stop or Terminate from another thread.
void Join(HANDLE& thread, const DWORD& id) {
    HANDLE handle = Load(thread);
    if (handle == nullptr || Load(id) == ::GetCurrentThreadId()) return;
    ::WaitForSingleObject(handle, INFINITE);
    ::CloseHandle(handle);
    Store(thread, HANDLE(nullptr));
}

void Close(HANDLE& handle) {
    if (handle != nullptr) ::CloseHandle(handle);
    handle = nullptr;
}

}  // namespace

int CIGrabEmu::Start() {
    // A new set of threads cannot start while the calling one, an old
    // callback thread, is still inside its callback.
    if (OnOwnThread()) return Fail("CIGrabEmu", "Start", "called from inside a callback");
    if (!CIGrab::Start()) return 0;

    const LONG ringBuffers = static_cast<LONG>(m_bufferCount) - 1;
    m_trashSemaphore = ::CreateSemaphoreW(nullptr, 0, 1, nullptr);
    m_frameReadySemaphore = ::CreateSemaphoreW(nullptr, 0, ringBuffers, nullptr);
    m_triggerSemaphore = ::CreateSemaphoreW(nullptr, 0, 1, nullptr);
    m_trashStartedSemaphore = ::CreateSemaphoreW(nullptr, 0, 1, nullptr);
    m_callbackStartedSemaphore = ::CreateSemaphoreW(nullptr, 0, 1, nullptr);
    if (!m_trashSemaphore || !m_frameReadySemaphore || !m_triggerSemaphore || !m_trashStartedSemaphore ||
        !m_callbackStartedSemaphore || m_lockFlags == nullptr) {
        Stop();
        return 0;
    }

    m_running = 1;
    Store(m_threadsRun, 1);
    for (ULONG i = 0; i + 1 < m_bufferCount; ++i) Store(m_lockFlags[i], ULONG(0));

    // A callback may call Stop as soon as the first frame arrives, on a thread
    // started here: the handles and ids it reads are stored atomically.
    DWORD callbackId = 0, trashId = 0;
    HANDLE thread = ::CreateThread(nullptr, kThreadStack, &CIGrabEmu::CallbackThreadMain, this, 0, &callbackId);
    Store(m_callbackThreadId, callbackId);
    Store(m_callbackThread, thread);
    thread = ::CreateThread(nullptr, 0, &CIGrabEmu::TrashThreadMain, this, 0, &trashId);
    Store(m_trashThreadId, trashId);
    Store(m_trashThread, thread);
    Store(m_producerThread, ::CreateThread(nullptr, kThreadStack, &CIGrabEmu::ProducerThreadMain, this, 0, nullptr));
    if (!Load(m_callbackThread) || !Load(m_trashThread) || !Load(m_producerThread)) {
        // The producer waits for both other threads to have started; stand in
        // for a thread that could not be made so that Stop can join the rest.
        if (!Load(m_callbackThread)) Release(m_callbackStartedSemaphore);
        if (!Load(m_trashThread)) Release(m_trashStartedSemaphore);
        Stop();
        return 0;
    }
    return 1;
}

int CIGrabEmu::Stop() {
    const int result = CIGrab::Stop();
    if (!result) return result;
    Store(m_threadsRun, 0);
    Release(m_triggerSemaphore);

    const bool producerRan = Load(m_producerThread) != nullptr;
    const DWORD noThread = 0;
    Join(m_producerThread, noThread);
    if (!producerRan) {
        // The producer's farewell releases wake the other two threads.
        Release(m_frameReadySemaphore);
        Release(m_trashSemaphore);
    }
    // Called from inside a callback, the calling thread is not joined; once
    // its callback returns it sees the running flag clear and ends without
    // touching the semaphores again.
    Join(m_trashThread, m_trashThreadId);
    Join(m_callbackThread, m_callbackThreadId);
    SettleFrameCounts();

    Close(m_callbackStartedSemaphore);
    Close(m_trashStartedSemaphore);
    Close(m_frameReadySemaphore);
    Close(m_trashSemaphore);
    Close(m_triggerSemaphore);
    return 1;
}

bool CIGrabEmu::ThreadsRun() const { return Load(m_threadsRun) != 0; }

bool CIGrabEmu::OnOwnThread() const {
    const DWORD self = ::GetCurrentThreadId();
    return (Load(m_callbackThread) != nullptr && self == Load(m_callbackThreadId)) ||
           (Load(m_trashThread) != nullptr && self == Load(m_trashThreadId));
}

// ---- Buffer locks ---------------------------------------------------------

int CIGrabEmu::LockBuffer(unsigned int index) {
    if (m_lockFlags == nullptr || index + 1 >= m_bufferCount) return 0;
    Store(m_lockFlags[index], ULONG(1));
    return 1;
}

int CIGrabEmu::UnLockBuffer(unsigned int index) {
    if (m_lockFlags == nullptr || index + 1 >= m_bufferCount) return 0;
    Store(m_lockFlags[index], ULONG(0));
    return 1;
}

int CIGrabEmu::IsBufferLocked(unsigned int index) {
    if (m_lockFlags == nullptr || index + 1 >= m_bufferCount) return 0;
    return static_cast<int>(Load(m_lockFlags[index]));
}

// ---- Composing a frame ----------------------------------------------------

// The next file of a plane's list for the emulator image type, or null.
const char* CIGrabEmu::PickFile(int plane) {
    char** list = nullptr;
    int count = 0;
    int* index = nullptr;
    if (m_emuImageType == IFW_EMU_IMAGE_CALIBRATION) {
        list = m_calibList[plane], count = m_calibCount[plane], index = &m_calibIndex[plane];
    } else if (m_emuImageType == IFW_EMU_IMAGE_ORDINARY || m_emuImageType == IFW_EMU_IMAGE_PATTERN) {
        list = m_playList[plane], count = m_playCount[plane], index = &m_playIndex[plane];
    }
    if (list == nullptr || count <= 0) return nullptr;
    if (*index < 0 || *index >= count) *index = 0;
    const char* file = list[*index];
    *index = (*index + 1) % count;
    return file;
}

unsigned char* CIGrabEmu::GrabSimplified(int) {
    if (m_composite == nullptr) return nullptr;
    if (m_destDib != nullptr) m_destDib->FillBlack();

    const std::size_t imageSize = m_imageSizeBytes;
    long planes = static_cast<long>(GetNumCameras()) * long(m_vertTiles) * long(m_horzTiles);
    planes = std::min<long>(planes, 8);
    if (imageSize > 0) planes = std::min<long>(planes, static_cast<long>(m_compositeSize / imageSize));

    unsigned char* dest = m_composite;
    for (long p = 0; p < planes; ++p, dest += imageSize) {
        const char* file = PickFile(static_cast<int>(p));
        if (file != nullptr && LoadBitmapFromFile(file, &m_bitmapInfo)) {
            CopyDibToPlane(dest, imageSize);
            if (p == m_clientActiveCamera) kiru::os::CopyCut(m_currentFileName, file);
        } else {
            WriteFillPattern(dest, imageSize);
        }
    }
    ++m_grabCounter;
    return m_compositeTable != nullptr ? m_compositeTable[0] : m_composite;
}

// The bitmap's rows are padded to 4 bytes; the frame's rows are not. When the
// two agree the plane is one copy, otherwise it is copied row by row so that
// odd row lengths do not shear the image. At most `limit` bytes, one plane,
// are written.
void CIGrabEmu::CopyDibToPlane(unsigned char* dest, std::size_t limit) {
    const std::size_t frameRow = m_widthByteCount;
    const std::size_t dibRow = m_destDib->RowBytes();
    if (frameRow == 0 || dibRow == 0) return;
    const std::size_t rows = std::min({std::size_t(m_height), m_destDib->SizeBytes() / dibRow, limit / frameRow});
    if (dibRow == frameRow) {
        std::memcpy(dest, m_dibBits, std::min(limit, m_destDib->SizeBytes()));
        return;
    }
    const std::size_t row = std::min(frameRow, dibRow);
    for (std::size_t r = 0; r < rows; ++r) std::memcpy(dest + r * frameRow, m_dibBits + r * dibRow, row);
}

// Crops the composite into ring buffer `index`: AOI rows of every plane, the
// source rows continuing from one plane into the next.
void CIGrabEmu::CopyCompositeToRing(ULONG index) {
    unsigned char* dst = m_imageArray[index];
    const unsigned char* src =
        m_composite + m_byteCounts.offsetX + std::size_t(m_offsetY) * m_widthByteCount;
    const std::size_t rowBytes = m_widthByteCount;
    const std::size_t aoiRowBytes = m_byteCounts.aoiWidth;
    const std::size_t rows = m_aoiHeight;
    if (rows == 0 || aoiRowBytes == 0) return;
    const unsigned char* srcEnd = m_composite + m_compositeSize;
    const unsigned char* dstEnd = m_ring + m_ringSize;
    const long planes = static_cast<long>(GetNumCameras()) * long(m_horzTiles) * long(m_vertTiles);
    for (long p = 0; p < planes; ++p) {
        // Nothing is copied from outside the composite or past the ring.
        if (src + (rows - 1) * rowBytes + aoiRowBytes > srcEnd || dst + rows * aoiRowBytes > dstEnd) break;
        for (std::size_t r = 0; r < rows; ++r, src += rowBytes, dst += aoiRowBytes) std::memcpy(dst, src, aoiRowBytes);
    }
}

// ---- Threads --------------------------------------------------------------

DWORD CIGrabEmu::ProducerThreadMain(void* self) { return static_cast<CIGrabEmu*>(self)->RunProducer(); }
DWORD CIGrabEmu::CallbackThreadMain(void* self) { return static_cast<CIGrabEmu*>(self)->RunCallbacks(); }
DWORD CIGrabEmu::TrashThreadMain(void* self) { return static_cast<CIGrabEmu*>(self)->RunTrash(); }

DWORD CIGrabEmu::RunProducer() {
    m_writeIndex = 0;
    m_readIndex = 0;
    m_droppedCount = 0;
    ::WaitForSingleObject(m_callbackStartedSemaphore, INFINITE);
    ::WaitForSingleObject(m_trashStartedSemaphore, INFINITE);

    const ULONG ring = m_bufferCount - 1;
    const ULONG trash = m_bufferCount - 1;
    while (ThreadsRun()) {
        if (m_triggerMethod == TRIGGER_HARDWARE || m_triggerMethod == TRIGGER_SOFTWARE) {
            ::WaitForSingleObject(m_triggerSemaphore, INFINITE);
            ::Sleep(1);
        } else {
            // The frame delay, cut short only by Stop's release.
            ::WaitForSingleObject(m_triggerSemaphore, m_frameDelay);
        }
        if (!ThreadsRun()) break;

        const ULONG i = m_writeIndex;
        CountFrames(0, kFateProduced);
        if (IsBufferLocked(i)) {
            // The client still holds the buffer: report the frame as trash.
            // Reports that arrive while one is pending merge into one call,
            // so the count is taken here, not by the trash thread.
            CountFrames(0, kFateTrashed);
            ++m_droppedCount;
            Store(m_bufferValues[trash], std::uint64_t(0));
            Store(m_sequenceCounts[trash], Load(m_sequenceCounts[trash]) + 1);
            Release(m_trashSemaphore);
            continue;
        }
        LockBuffer(i);
        Store(m_bufferValues[i], std::uint64_t(0));
        Store(m_sequenceCounts[i], Load(m_sequenceCounts[i]) + 1);
        GrabSimplified(0);
        m_bufferImageIndex[i] = 0;
        CopyCompositeToRing(i);
        m_writeIndex = (i + 1) % ring;
        Release(m_frameReadySemaphore);
    }
    // Wake the other two threads so that they see the stop.
    Release(m_frameReadySemaphore);
    Release(m_trashSemaphore);
    return 0;
}

DWORD CIGrabEmu::RunCallbacks() {
    Store(m_acqThreadId, static_cast<ULONG>(::GetCurrentThreadId()));
    Release(m_callbackStartedSemaphore);

    const ULONG ring = m_bufferCount - 1;
    while (ThreadsRun()) {
        ::WaitForSingleObject(m_frameReadySemaphore, INFINITE);
        if (!ThreadsRun()) break;
        const ULONG j = m_readIndex;
        Store(m_lastDeliveredImageIndex, m_bufferImageIndex[j]);
        unsigned char* frame = m_imageArray[j];
        const ULONG sequence = Load(m_sequenceCounts[j]);
        const auto stamp = static_cast<std::int64_t>(Load(m_bufferValues[j]));
        // The buffer callback's context is not tested; a composite frame of
        // all cameras counts once, under camera 0.
        DeliverFrame(frame, sequence, stamp, GetNumCameras(), kFunctionSet);
        m_readIndex = (j + 1) % ring;
        UnLockBuffer(j);
    }
    AcqThreadExitting();
    return kCallbackThreadExit;
}

DWORD CIGrabEmu::RunTrash() {
    Release(m_trashStartedSemaphore);
    const ULONG trash = m_bufferCount - 1;
    while (ThreadsRun()) {
        ::WaitForSingleObject(m_trashSemaphore, INFINITE);
        if (!ThreadsRun()) break;
        CallTrashCallback(m_imageArray[trash], Load(m_sequenceCounts[trash]),
                          static_cast<std::int64_t>(Load(m_bufferValues[trash])), kFunctionSet);
    }
    return kTrashThreadExit;
}
