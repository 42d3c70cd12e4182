// Back-ends that only tag the common layer: grab types, constructor values,
// that nothing initializes them, and that deleting them ends the scheduler.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "support/test_grab.h"

namespace {

// Exposes the solution-ID bit count a constructor stored.
template <class Backend>
class Probe : public Backend {
public:
    int SolutionBits() const { return this->m_hwSolutionIdBits; }
};

// A back-end as constructed, with the values its constructor should have stored.
struct Tagged {
    std::unique_ptr<CIGrab> grab;
    int storedBits;
    IFW_IGRABTYPE type;
    int solutionBits;
    ULONG rejectorDelay;
    double exposure;
};

template <class Backend>
Tagged Make(IFW_IGRABTYPE type, int solutionBits, ULONG rejectorDelay, double exposure) {
    auto grab = std::make_unique<Probe<Backend>>();
    const int stored = grab->SolutionBits();
    return Tagged{std::move(grab), stored, type, solutionBits, rejectorDelay, exposure};
}

bool FileExists(const char* path) {
    std::FILE* f = std::fopen(path, "r");
    if (f != nullptr) std::fclose(f);
    return f != nullptr;
}

}  // namespace

TEST(GrabTagBackends, TypesConstructorValuesAndNeverInitialized) {
    // QB2E reports another type where its marker file exists.
    const IFW_IGRABTYPE qb2e = FileExists("/windows/sicam.txt") ? IGRAB_QB2E_ALT : IGRAB_QB2E;
    Tagged cases[] = {Make<CIGrabQB1>(IGRAB_QB1, 4, 1500, 100.0), Make<CIGrabTalon>(IGRAB_TALON, 0, 1500, 512.0),
                      Make<CIGrab1394>(IGRAB_1394, 0, 100, 100.0), Make<CIGrabQB2E>(qb2e, 3, 1500, 100.0)};
    for (Tagged& c : cases) {
        CIGrab& g = *c.grab;
        SCOPED_TRACE(testing::Message() << "grab type " << c.type);
        EXPECT_EQ(g.GetGrabType(), c.type);
        EXPECT_EQ(c.storedBits, c.solutionBits);
        EXPECT_EQ(g.GetRejectorDelay(), c.rejectorDelay);
        EXPECT_EQ(g.GetRecycleDelay(), 100u);
        EXPECT_EQ(g.GetExposure(), c.exposure);
        // The common layer's refusal to work before a back-end initialized it stays.
        EXPECT_EQ(g.Initialize(), 1);
        EXPECT_EQ(g.IsGrabInitialized(), 0);
        EXPECT_EQ(g.IsIORunning(), 1);
        EXPECT_EQ(g.SetPass(0), 0);
        EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetPass: Grab not initialized");
        EXPECT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 0);
        EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::Create: Grab not initialized");
        EXPECT_EQ(g.SetBrightness(40), 0);
        EXPECT_EQ(g.GetBrightness(), 40u);
    }
    // Deleted with the scheduler thread running (the destructors end it).
    for (Tagged& c : cases) c.grab.reset();
}
