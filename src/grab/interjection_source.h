// What image interjection needs of the emulator it takes its test images
// from. The back-end table supplies it, so the common layer never names a
// concrete back-end.
#pragma once

#include <kiru/ifw_types.h>

class IXGrab;

namespace kiru::grab {

struct InterjectionSource {
    // A new emulator reading files at grab time; null when it cannot be made.
    IXGrab* (*create)();
    // Non-zero once the emulator reads its files at grab time; `compose` is
    // then the way to a frame.
    int (*readsAtGrabTime)(IXGrab* emulator);
    // Composes the emulator's next frame from its files; null before Create.
    unsigned char* (*compose)(IXGrab* emulator);
    // A preloaded image of the type, or null.
    unsigned char* (*loadedImage)(IXGrab* emulator, IFW_EMULATOR_IMAGETYPE type, int set, int index);
    // How many preloaded images of the type there are.
    int (*imageCount)(IXGrab* emulator, IFW_EMULATOR_IMAGETYPE type);
};

// The emulator behind interjection; defined with the back-end table.
const InterjectionSource& InterjectionEmulator();

}  // namespace kiru::grab
