// Image interjection: replacing a live frame by a stored test image taken
// from a private emulator object, created on first use and owned by the grab
// object until its destructor.
#include <kiru/cigrab.h>

#include <cstdlib>
#include <cstring>

#include "grab/interjection_source.h"

namespace {

constexpr ULONG kKeep = 0xFFFFFFFEu;

// Counter slot of an emulator image type; types outside the three known
// ones use the first counter.
int CounterSlot(int type) { return (type >= 0 && type <= 2) ? type : 0; }

}  // namespace

// The interface alone keeps no interjection counters and has no image source.
unsigned char* IXGrab::GetNextInterjectImage(IFW_EMULATOR_IMAGETYPE, int, int) { return nullptr; }
char* IXGrab::GetImageFileName(int, int, int) { return nullptr; }

unsigned char* CIGrab::GetNextInterjectImage(IFW_EMULATOR_IMAGETYPE type, int set, int index) {
    const int slot = CounterSlot(static_cast<int>(type));
    const int number = index >= 0 ? index : static_cast<int>(m_interjectCounter[slot]);

    const kiru::grab::InterjectionSource& source = kiru::grab::InterjectionEmulator();
    if (m_interjectEmulator == nullptr) {
        IXGrab* emulator = source.create();
        if (emulator == nullptr) return nullptr;
        m_interjectEmulator = emulator;
        emulator->Initialize();
        emulator->Create(m_offsetX, m_offsetY, m_width, m_height, kKeep, kKeep, kKeep);
        const std::size_t size = std::size_t(GetNumCameras() > 0 ? GetNumCameras() : 0) * m_imageSizeBytes;
        m_interjectImage = static_cast<unsigned char*>(std::malloc(size ? size : 1));
    }
    if (m_interjectImage == nullptr) return nullptr;

    IXGrab* emulator = m_interjectEmulator;
    // Files read at grab time: the emulator composes the next frame itself.
    if (source.readsAtGrabTime(emulator)) return source.compose(emulator);

    unsigned char* result = nullptr;
    if (unsigned char* loaded = source.loadedImage(emulator, type, set, number)) {
        std::memcpy(m_interjectImage, loaded, std::size_t(GetNumCameras() > 0 ? GetNumCameras() : 0) * m_imageSizeBytes);
        m_interjectState = 1;
        result = m_interjectImage;
    }
    const int count = source.imageCount(emulator, type);
    m_interjectCounter[slot] = count > 0 ? (m_interjectCounter[slot] + 1) % static_cast<ULONG>(count) : 0;
    return result;
}

// The file of the most recently interjected image of the type.
char* CIGrab::GetImageFileName(int type, int, int) {
    if (!m_interjectState || m_interjectEmulator == nullptr) return nullptr;
    const int slot = CounterSlot(type);
    int number = static_cast<int>(m_interjectCounter[slot]);
    if (number == 0)
        number = kiru::grab::InterjectionEmulator().imageCount(m_interjectEmulator,
                                                               static_cast<IFW_EMULATOR_IMAGETYPE>(slot));
    return m_interjectEmulator->GetImageFileName(0, slot, number - 1);
}
