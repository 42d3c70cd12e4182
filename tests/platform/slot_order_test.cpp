// Where this build puts the grab object's operations in its virtual table.
// A client compiled by another compiler finds an operation by its slot, so
// the slots are part of the library's binary interface. GCC and clang in
// their GNU mode (Linux and MinGW alike) give the virtual destructor two
// slots (complete and deleting), so the first operation after it is slot 2;
// MSVC gives the destructor one slot, which shifts every operation by one
// and is why an MSVC-built client needs a library built with MSVC's ABI.
#include <gtest/gtest.h>
#include <kiru/kiru.h>

#include <cstdint>
#include <cstring>

namespace {

// A pointer to a virtual member function holds 1 + the byte offset of its
// slot in the table (the Itanium C++ ABI, used by GCC and clang here).
template <class Method>
long SlotOf(Method method) {
    static_assert(sizeof(Method) == 2 * sizeof(std::uintptr_t), "two-word member pointers");
    std::uintptr_t words[2];
    std::memcpy(words, &method, sizeof words);
    if ((words[0] & 1) == 0) return -1;  // not virtual
    return static_cast<long>((words[0] - 1) / sizeof(void*));
}

}  // namespace

TEST(SlotOrder, OperationsFollowTheTwoDestructorSlotsInDeclarationOrder) {
    struct Case {
        const char* name;
        long slot;
        long actual;
    };
    const Case cases[] = {
        {"GetGrabType", 2, SlotOf(&IXGrab::GetGrabType)},
        {"Initialize", 3, SlotOf(&IXGrab::Initialize)},
        {"Create", 4, SlotOf(&IXGrab::Create)},
        {"Destroy", 5, SlotOf(&IXGrab::Destroy)},
        {"Terminate", 6, SlotOf(&IXGrab::Terminate)},
        {"Stop", 7, SlotOf(&IXGrab::Stop)},
        {"Start", 8, SlotOf(&IXGrab::Start)},
    };
    for (const Case& c : cases) EXPECT_EQ(c.actual, c.slot) << c.name;
    // A back-end overrides in the same slots rather than adding new ones.
    EXPECT_EQ(SlotOf(&CIGrabEmu::Start), SlotOf(&IXGrab::Start));
}
