// Back-end selection through the exported factory and deleter.
#include <gtest/gtest.h>

#include <kiru/kiru.h>

#include <cstring>
#include <string>

namespace {

// The factory needs a writable buffer of at least 8 bytes.
struct Keyword {
    explicit Keyword(const char* text) {
        std::memset(buf, 'x', sizeof buf);
        std::strcpy(buf, text);
    }
    char buf[32];
};

TEST(Factory, KeywordsThatAskForTheEmulatorOrNameUndrivenHardwareYieldTheEmulator) {
    for (const char* text : {"EMULATOR", "1394", "TORRIN", "QB1", "QB2E", "ELK", "TALON", "MARLO", "LUXOR2",
                             "MARLO LUXOR2", "SOMETHING"}) {
        Keyword kw(text);
        IXGrab* grab = KiruGrabInstantiate(kw.buf);
        ASSERT_NE(grab, nullptr) << text;
        EXPECT_EQ(grab->GetGrabType(), IGRAB_EMULATOR) << text;
        // The first eight bytes are cleared; the rest of the buffer is left alone.
        for (int i = 0; i < 8; ++i) EXPECT_EQ(kw.buf[i], '\0') << text << " byte " << i;
        if (std::strlen(text) < 8) {
            EXPECT_EQ(kw.buf[9], 'x') << text;
        }
        EXPECT_EQ(KiruGrabDelete(grab), 1);
    }
}

TEST(Factory, EmptyKeywordRunsModuleEnumerationAndLeavesTheBufferAlone) {
    Keyword kw("");
    IXGrab* grab = KiruGrabInstantiate(kw.buf);
    ASSERT_NE(grab, nullptr);
    EXPECT_EQ(grab->GetGrabType(), IGRAB_EMULATOR);
    EXPECT_EQ(kw.buf[0], '\0');
    EXPECT_EQ(kw.buf[1], 'x');
    EXPECT_EQ(KiruGrabDelete(grab), 1);
}

TEST(Factory, KeywordTestsAreCaseSensitiveSubstrings) {
    Keyword kw("my-emulator-please");  // lower case: no keyword matches, enumeration decides
    IXGrab* grab = KiruGrabInstantiate(kw.buf);
    ASSERT_NE(grab, nullptr);
    EXPECT_EQ(grab->GetGrabType(), IGRAB_EMULATOR);
    EXPECT_EQ(kw.buf[0], '\0');
    KiruGrabDelete(grab);
}

// A grab object whose Terminate result the deleter must hand back.
class CountingGrab : public CIGrab {
public:
    explicit CountingGrab(int* terminations) : terminations_(terminations) {}
    int Terminate() override {
        ++*terminations_;
        CIGrab::Terminate();
        return 7;
    }

private:
    int* terminations_;
};

TEST(Factory, DeleteReturnsWhatTerminateReturnedAndNullGivesZero) {
    EXPECT_EQ(KiruGrabDelete(nullptr), 0);
    int terminations = 0;
    EXPECT_EQ(KiruGrabDelete(new CountingGrab(&terminations)), 7);
    EXPECT_EQ(terminations, 1);
}

TEST(Factory, TheEmulatorFromTheFactoryRunsItsLifecycle) {
    Keyword kw("EMULATOR");
    IXGrab* grab = KiruGrabInstantiate(kw.buf);
    ASSERT_NE(grab, nullptr);
    EXPECT_EQ(grab->Initialize(), 1);
    EXPECT_EQ(grab->IsGrabInitialized(), 1);
    EXPECT_EQ(grab->Create(0, 0, 640, 480, 0xFFFFFFFEu, 5, 5000), 1);
    EXPECT_EQ(KiruGrabDelete(grab), 1);
}

}  // namespace
