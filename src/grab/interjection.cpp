// Image interjection: replacing a live frame by a stored test image.
#include <kiru/cigrab.h>

// The interface alone has no image source to interject from.
unsigned char* IXGrab::GetNextInterjectImage(IFW_EMULATOR_IMAGETYPE, int, int) { return nullptr; }
char* IXGrab::GetImageFileName(int, int, int) { return nullptr; }

// NOT YET IMPLEMENTED: the common layer draws interjected images from a
// private emulator object, which does not exist in the library yet. Until it
// does, no interjected image is produced.
unsigned char* CIGrab::GetNextInterjectImage(IFW_EMULATOR_IMAGETYPE, int, int) { return nullptr; }
char* CIGrab::GetImageFileName(int, int, int) { return nullptr; }
