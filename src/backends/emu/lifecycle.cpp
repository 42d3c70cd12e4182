// CIGrabEmu: construction, destruction and the lifecycle operations
// (Initialize, Create, Destroy, Terminate). Start and Stop live with the
// acquisition threads.
#include <kiru/cigrab_emu.h>
#include <kiru/cios.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "os/path_buffer.h"

namespace {

constexpr ULONG kKeep = 0xFFFFFFFEu;
constexpr ULONG kDefault = 0xFFFFFFFFu;
// Buffer N - 1 is the trash buffer, so the ring needs two buffers; the
// per-buffer image index table holds 60.
constexpr ULONG kMinBuffers = 2;
constexpr ULONG kMaxBuffers = 60;

template <typename T>
void FreeAndClear(T*& pointer) {
    std::free(pointer);
    pointer = nullptr;
}

}  // namespace

CIGrabEmu::CIGrabEmu(IGEMU_FILE_STORE store)
    : m_imagePath{},
      m_requestedImagePath{},
      m_currentFileName{},
      m_grabCounter(0),
      m_storeKind(store),
      m_emuImageType(IFW_EMU_IMAGE_ORDINARY),
      m_playList{},
      m_playCount{},
      m_playIndex{},
      m_calibList{},
      m_calibCount{},
      m_calibIndex{},
      m_simplifiedGrab(0),
      m_bitmapInfo{},
      m_destDib(nullptr),
      m_dibBits(nullptr),
      m_producerThread(nullptr),
      m_trashThread(nullptr),
      m_callbackThread(nullptr),
      m_trashSemaphore(nullptr),
      m_frameReadySemaphore(nullptr),
      m_triggerSemaphore(nullptr),
      m_trashStartedSemaphore(nullptr),
      m_callbackStartedSemaphore(nullptr),
      m_bufferValues(nullptr),
      m_sequenceCounts(nullptr),
      m_lockFlags(nullptr),
      m_composite(nullptr),
      m_compositeTable(nullptr),
      m_compositeSize(0),
      m_compositeCount(0),
      m_writeIndex(0),
      m_readIndex(0),
      m_droppedCount(0),
      m_bufferImageIndex{},
      m_lastDeliveredImageIndex(0),
      m_teachImageIndex(0),
      m_threadsRun(0),
      m_callbackThreadId(0),
      m_trashThreadId(0) {
    kiru::os::CopyCut(m_requestedImagePath, "./images");
}

CIGrabEmu::~CIGrabEmu() {
    Terminate();
    ClearFileList();
}

IFW_IGRABTYPE CIGrabEmu::GetGrabType() { return IGRAB_EMULATOR; }

int CIGrabEmu::Initialize() {
    const int result = CIGrab::Initialize();
    if (!result) return result;
    m_frameDelay = 33;
    if (m_imagePath[0] == '\0') CiOS::AppDataPath(m_imagePath, m_productName, "./images");

    // The image region reduces the default size unless the client chose a height.
    if (!m_heightSetExplicitly) {
        switch (m_imgRegion) {
            case IFW_REGION_HALF_HEIGHT:
                m_height >>= 1;
                break;
            case IFW_REGION_HALF:
                m_width >>= 1;
                m_height >>= 1;
                break;
            case IFW_REGION_QUARTER_HEIGHT:
                m_height >>= 2;
                break;
            case IFW_REGION_XGA:
                if (m_width >= 1024 && m_height >= 768) m_width = 1024, m_height = 768;
                break;
            default:
                break;
        }
    }

    ResolveImageFolder(true);
    m_initialized = 1;
    return 1;
}

int CIGrabEmu::Create(ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bits, ULONG count,
                      ULONG timeout) {
    // The common Create stops acquisition anyway; it has to happen before the
    // count, which frees the lists the producer picks from and may give the
    // grab the first file's size while the composite still has the old one.
    Stop();
    if (m_imagePath[0] != '\0') CountImageFiles(m_imagePath);

    // Only a negated depth (-8 or less, e.g. -24) changes the bits per pixel;
    // colour is otherwise chosen with SetImageColor.
    const ULONG passBits = static_cast<LONG>(bits) <= -8 ? 0u - bits : kKeep;
    if (count == kKeep) count = m_bufferCount;
    if (count == kDefault) count = 5;
    count = std::clamp(count, kMinBuffers, kMaxBuffers);

    if (!CIGrab::Create(offsetX, offsetY, width, height, passBits, count, timeout)) return 0;
    m_compositeCount = 1;

    const ULONG buffers = m_bufferCount;
    m_bufferValues = static_cast<std::uint64_t*>(std::calloc(buffers, sizeof(std::uint64_t)));
    m_sequenceCounts = static_cast<ULONG*>(std::calloc(buffers, sizeof(ULONG)));
    m_lockFlags = static_cast<ULONG*>(std::calloc(buffers - 1, sizeof(ULONG)));
    if (!m_bufferValues || !m_sequenceCounts || !m_lockFlags) {
        Destroy();
        return 0;
    }

    // Room for every camera and tile; an 8-bit frame keeps room for three
    // planes so that a later switch to 3-byte colour still fits.
    std::uint64_t cameras = static_cast<std::uint64_t>(std::max(GetNumCameras(), 0));
    if (m_bytesPerPixel == 1) cameras = std::max<std::uint64_t>(cameras, 3);
    const std::uint64_t size = std::uint64_t(m_width) * m_height * m_horzTiles * m_vertTiles * m_bytesPerPixel * cameras;
    if (size == 0 || size > 0xFFFFFFFFull) return 0;
    m_composite = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size)));
    if (m_composite == nullptr) return 0;
    m_compositeTable = static_cast<unsigned char**>(std::malloc(sizeof(unsigned char*)));
    if (m_compositeTable == nullptr) {
        Destroy();
        return 0;
    }
    m_compositeTable[0] = m_composite;
    std::memset(m_composite, 0, static_cast<std::size_t>(size));
    m_compositeSize = static_cast<ULONG>(size);

    // A failed bitmap leaves the object usable: every frame is the fill pattern.
    if (CreateDIBSections()) LoadImageFiles();
    m_created = 1;
    return 1;
}

int CIGrabEmu::Destroy() {
    CIGrab::Destroy();
    DestroyDIBSections();
    FreeAndClear(m_lockFlags);
    FreeAndClear(m_sequenceCounts);
    FreeAndClear(m_bufferValues);
    FreeAndClear(m_compositeTable);
    FreeAndClear(m_composite);
    m_compositeSize = 0;
    return 1;
}

int CIGrabEmu::Terminate() {
    CIGrab::Terminate();
    m_compositeCount = 0;
    return 1;
}
