// CIGrabEmu: the back-end that needs no hardware. It plays bitmap files from
// an image folder as camera frames: a producer thread composes each frame
// from the files (one subfolder per camera), copies it into the frame ring
// and hands it to a callback thread that calls the client; frames that find
// their ring buffer still held by the client go to the trash callback on a
// third thread.
//
// Image folder layout (camera n >= 1 reads the subfolder Cam<n+1>):
//   <folder>/*.bmp, <folder>/pass/*.bmp, <folder>/fail/*.bmp   played in this order
//   <folder>/calib/*.bmp                                       calibration images
#pragma once

#include <cstddef>
#include <cstdint>
#include <kiru/bitmap_types.h>
#include <kiru/cigrab.h>

// Where an emulator takes its images from. Bitmap files read from the image
// folders at grab time are the only store.
enum IGEMU_FILE_STORE {
    IGEMU_FILE_STORE_FILES = 0
};

namespace kiru::platform {
class Dib;
}

class KIRU_API CIGrabEmu : public CIGrab {
public:
    explicit CIGrabEmu(IGEMU_FILE_STORE store);
    // Copying copies every field as a value, like the common layer.
    CIGrabEmu(const CIGrabEmu&) = default;
    CIGrabEmu& operator=(const CIGrabEmu&) = default;
    ~CIGrabEmu() override;

    IFW_IGRABTYPE GetGrabType() override;
    int Initialize() override;
    int Create(ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bitsPerPixel, ULONG bufferCount,
               ULONG timeout) override;
    int Destroy() override;
    int Terminate() override;
    int Stop() override;
    int Start() override;

    int SetImageColor(IFW_IMAGE_COLOR_TYPE type) override;
    int SetFrameDelay(UINT delay) override;
    int SetActiveCommPort(int port) override;
    int EmulationTrigger() override;
    int GetCommPortNum(int port, IFW_COMPORT_KIND kind) override;
    int GenerateSoftTrigger(int camera) override;
    ULONG GetWidth() override;
    ULONG GetHeight() override;
    char* GetImagePath() override;
    char* GetImageFileName(int camera, int type, int index) override;
    int EmulateFromNewImagePath(char* path, ULONG width, ULONG height) override;
    int GetNumCameras() override;
    void GotTeachImage() override;

    // Frees every play and calibration list.
    void ClearFileList();
    // Preloaded images; the file store reads its files at grab time and
    // preloads none, so these are 0 and null.
    int GetImageTypeCount(IFW_EMULATOR_IMAGETYPE type);
    unsigned char* GetLoadedImagePtr(IFW_EMULATOR_IMAGETYPE type, int camera, int index);
    // Composes the next frame from the image files and returns the composite
    // frame (null before Create). The index is not used.
    unsigned char* GrabSimplified(int index);
    // Non-zero once the lists have been built for reading files at grab time
    // (GrabSimplified is then the way to a frame).
    int UsesSimplifiedGrab() const { return m_simplifiedGrab; }

protected:
    // Store state.
    char m_imagePath[MAX_PATH];           // folder in use
    char m_requestedImagePath[MAX_PATH];  // the client's last path; the fallback folder
    char m_currentFileName[MAX_PATH];     // last file loaded for the client's active camera
    ULONG m_grabCounter;                  // composed frames; shifts the fill pattern
    IGEMU_FILE_STORE m_storeKind;
    IFW_EMULATOR_IMAGETYPE m_emuImageType;  // list played: 0 and 1 the play list, 2 calibration
    char** m_playList[8];
    int m_playCount[8];
    int m_playIndex[8];
    char** m_calibList[8];
    int m_calibCount[8];
    int m_calibIndex[8];
    int m_simplifiedGrab;

    // The grab's bitmap description and the destination bitmap files are drawn into.
    BITMAPINFO m_bitmapInfo;
    kiru::platform::Dib* m_destDib;
    unsigned char* m_dibBits;

    // Acquisition state.
    HANDLE m_producerThread;
    HANDLE m_trashThread;
    HANDLE m_callbackThread;
    HANDLE m_trashSemaphore;
    HANDLE m_frameReadySemaphore;
    HANDLE m_triggerSemaphore;
    HANDLE m_trashStartedSemaphore;
    HANDLE m_callbackStartedSemaphore;
    std::uint64_t* m_bufferValues;  // per ring buffer: the callbacks' stamp (always 0)
    ULONG* m_sequenceCounts;        // per ring buffer: fills and trash reports
    ULONG* m_lockFlags;             // per ring buffer but the trash buffer: filled, not yet delivered
    unsigned char* m_composite;     // the frame as composed from files, before cropping
    unsigned char** m_compositeTable;
    ULONG m_compositeSize;
    int m_compositeCount;
    ULONG m_writeIndex;
    ULONG m_readIndex;
    ULONG m_droppedCount;
    ULONG m_bufferImageIndex[60];
    ULONG m_lastDeliveredImageIndex;
    ULONG m_teachImageIndex;
    int m_threadsRun;  // the running flag as the three threads read it
    DWORD m_callbackThreadId;
    DWORD m_trashThreadId;

private:
    UINT CountImageFiles(char* folder);
    UINT CountImageFilesSimplified(char* folder);
    void ResolveImageFolder(bool initializing);
    int ImageConform(char* path);
    int ImageConform(BITMAPINFOHEADER* header);
    int LoadBitmapFromFile(const char* path, BITMAPINFO* target);
    int CreateDIBSections();
    int DestroyDIBSections();
    int LoadImageFiles();
    void WriteFillPattern(unsigned char* dest, std::size_t limit);
    const char* PickFile(int plane);

    int LockBuffer(unsigned int index);
    int UnLockBuffer(unsigned int index);
    int IsBufferLocked(unsigned int index);
    bool ThreadsRun() const;
    // True on the callback or trash thread, i.e. inside a client callback.
    bool OnOwnThread() const;
    void CopyCompositeToRing(ULONG index);
    void CopyDibToPlane(unsigned char* dest, std::size_t limit);

    static DWORD ProducerThreadMain(void* self);
    static DWORD CallbackThreadMain(void* self);
    static DWORD TrashThreadMain(void* self);
    DWORD RunProducer();
    DWORD RunCallbacks();
    DWORD RunTrash();
};
