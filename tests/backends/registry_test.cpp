// Back-end selection through the exported factory and deleter: which branch
// each keyword and module list takes (checked with stand-in back-ends put in
// the table, or the built-in table with the real back-ends), the fall-back to
// the emulator, and the factory's account of what it tried.
#include <gtest/gtest.h>
#include <kiru/kiru.h>
#include <kiru/station.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "backends/registry.h"

namespace {

using kiru::backends::Backend;
using kiru::backends::ScopedTable;

// The factory needs a writable buffer of at least 8 bytes.
struct Keyword {
    explicit Keyword(const char* text) {
        std::memset(buf, 'x', sizeof buf);
        std::strcpy(buf, text);
    }
    char buf[32];
};

// A stand-in back-end: the common layer under the entry's grab type, with a
// camera count the entry decides.
template <IFW_IGRABTYPE Type, int Cameras>
class FakeGrab : public CIGrab {
public:
    IFW_IGRABTYPE GetGrabType() override { return Type; }
    int GetNumCameras() override { return Cameras; }
};

template <IFW_IGRABTYPE Type, int Cameras>
IXGrab* MakeFake() {
    return new FakeGrab<Type, Cameras>();
}

bool HasCameras(IXGrab* grab, std::string* why) {
    if (grab->GetNumCameras() != 0) return true;
    *why = "no camera answered";
    return false;
}

// Which table the factory searches: the built-in table's words and modules
// with stand-ins (the GigE one answering or not), or the built-in table itself.
enum Table { kFakes, kSilentGev, kBuiltIn };

// The built-in table's words and modules, with stand-ins; `gevAnswers`
// decides whether the GigE stand-in answers.
std::vector<Backend> FakeTable(bool gevAnswers) {
    return {
        {IGRAB_LX2, "LX2", {"LUXOR2"}, {"LXP", "HVQ"}, &MakeFake<IGRAB_LX2, 1>, nullptr},
        {IGRAB_GEV, "GigE", {"MARLO"}, {}, gevAnswers ? &MakeFake<IGRAB_GEV, 2> : &MakeFake<IGRAB_GEV, 0>,
         &HasCameras},
        {IGRAB_QB2, "QB2", {}, {"QBM"}, &MakeFake<IGRAB_QB2, 1>, nullptr},
    };
}

std::vector<std::string> g_told;
int Catch(void* context, char* message) {
    EXPECT_EQ(context, &g_told);
    g_told.emplace_back(message);
    return 0;
}

struct Case {
    const char* station;  // modules in enumeration order ("" for none)
    const char* keyword;
    Table table;
    IFW_IGRABTYPE expected;
    bool bufferCleared;
    const char* told;  // a line the factory's account must hold
};

class Selection : public ::testing::TestWithParam<Case> {
protected:
    void TearDown() override {
        kiru::SetFactoryDbgCatcher(nullptr, nullptr);
        kiru::sim::Station::Reset();
    }
};

TEST_P(Selection, TakesTheWrittenBranch) {
    const Case& c = GetParam();
    std::string error;
    ASSERT_TRUE(kiru::sim::Station::LoadText(c.station, "modules.ini", &error)) << error;
    std::unique_ptr<ScopedTable> table;
    if (c.table != kBuiltIn) table = std::make_unique<ScopedTable>(FakeTable(c.table == kFakes));
    g_told.clear();
    kiru::SetFactoryDbgCatcher(&Catch, &g_told);

    Keyword kw(c.keyword);
    IXGrab* grab = KiruGrabInstantiate(kw.buf);
    ASSERT_NE(grab, nullptr);
    EXPECT_EQ(grab->GetGrabType(), c.expected);
    if (c.bufferCleared) {
        for (int i = 0; i < 8; ++i) EXPECT_EQ(kw.buf[i], '\0') << "byte " << i;
        if (std::strlen(c.keyword) < 8) {
            EXPECT_EQ(kw.buf[9], 'x');  // only eight bytes are cleared
        }
    } else {
        EXPECT_STREQ(kw.buf, c.keyword);
        EXPECT_EQ(kw.buf[1], 'x');
    }
    std::string account;
    for (const std::string& line : g_told) account += line + "\n";
    EXPECT_NE(account.find(c.told), std::string::npos) << account;
    EXPECT_EQ(KiruGrabDelete(grab), 1);
}

const char kAllModules[] = "[ABC]\n[LXP]\n[QBM]\n";

INSTANTIATE_TEST_SUITE_P(
    Factory, Selection,
    ::testing::Values(
        // The first module of ours decides; another module before it is passed over.
        Case{kAllModules, "", kFakes, IGRAB_LX2, false, "module \"ABC\" skipped: no back-end drives it"},
        Case{"[QBM]\n[LXP]\n", "", kFakes, IGRAB_QB2, false, "module \"QBM\" asks for QB2"},
        Case{"[HVQ]\n", "", kFakes, IGRAB_LX2, false, "module \"HVQ\" asks for LX2"},
        Case{"[LX]\n[QB]\n", "", kFakes, IGRAB_EMULATOR, false, "no back-end answered: the emulator"},
        Case{"", "", kFakes, IGRAB_EMULATOR, false, "no capture module answered"},
        // A keyword matching no test runs enumeration too ("LUXOR2" alone included).
        Case{kAllModules, "LUXOR2", kFakes, IGRAB_LX2, true, "module \"LXP\" asks for LX2"},
        Case{"[QBM]\n", "my-emulator", kFakes, IGRAB_QB2, true, "module \"QBM\" asks for QB2"},
        // "MARLO" picks by keyword; "LUXOR2" is tested first.
        Case{kAllModules, "MARLO", kFakes, IGRAB_GEV, true, "GigE chosen (grab type 8)"},
        Case{kAllModules, "MARLO", kSilentGev, IGRAB_EMULATOR, true, "GigE skipped: no camera answered"},
        Case{"", "MARLO LUXOR2", kFakes, IGRAB_LX2, true, "\"LUXOR2\" asks for LX2"},
        // Words that ask for the emulator, or name a tag-only back-end, win over hardware.
        Case{kAllModules, "EMULATOR", kFakes, IGRAB_EMULATOR, true, "asks for the emulator"},
        Case{kAllModules, "1394", kFakes, IGRAB_EMULATOR, true, "asks for the emulator"},
        Case{kAllModules, "TORRIN", kFakes, IGRAB_EMULATOR, true, "asks for the emulator"},
        Case{kAllModules, "MARLO QB2E", kFakes, IGRAB_EMULATOR, true, "only tags the common layer"},
        Case{kAllModules, "ELK", kFakes, IGRAB_EMULATOR, true, "only tags the common layer"},
        Case{kAllModules, "TALON", kFakes, IGRAB_EMULATOR, true, "only tags the common layer"},
        Case{kAllModules, "QB1", kFakes, IGRAB_EMULATOR, true, "only tags the common layer"},
        // The built-in table makes the real back-ends; GigE only with a camera answering.
        Case{kAllModules, "", kBuiltIn, IGRAB_LX2, false, "module \"LXP\" asks for LX2"},
        Case{"[QBM]\n[LXP]\n", "", kBuiltIn, IGRAB_QB2, false, "module \"QBM\" asks for QB2"},
        Case{"", "MARLO LUXOR2", kBuiltIn, IGRAB_LX2, true, "\"LUXOR2\" asks for LX2"},
        Case{"[GEV]\nWidth = 64\nHeight = 48\n", "MARLO", kBuiltIn, IGRAB_GEV, true, "GigE chosen (grab type 8)"},
        Case{"[TRX]\n", "MARLO", kBuiltIn, IGRAB_EMULATOR, true, "GigE skipped: no \"GEV\" module answered"}));

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

}  // namespace
