// Back-ends that only tag the common layer: grab types, constructor values,
// and that nothing initializes them.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "support/test_grab.h"

namespace {

// Reads the solution-ID bit count a constructor stored.
template <class Backend>
class Probe : public Backend {
public:
    int SolutionBits() const { return this->m_hwSolutionIdBits; }
};

bool FileExists(const char* path) {
    if (std::FILE* f = std::fopen(path, "r")) {
        std::fclose(f);
        return true;
    }
    return false;
}

// Every tag-only back-end keeps the common layer's refusal to work before a
// back-end initialized it, and never initializes itself.
void ExpectNeverInitialized(CIGrab& g) {
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

}  // namespace

TEST(GrabTagBackends, QB1) {
    Probe<CIGrabQB1> g;
    EXPECT_EQ(g.GetGrabType(), IGRAB_QB1);
    EXPECT_EQ(g.GetRejectorDelay(), 1500u);
    EXPECT_EQ(g.SolutionBits(), 4);
    EXPECT_EQ(g.GetExposure(), 100.0);
    EXPECT_EQ(g.GetRecycleDelay(), 100u);
    ExpectNeverInitialized(g);
}

TEST(GrabTagBackends, Talon) {
    Probe<CIGrabTalon> g;
    EXPECT_EQ(g.GetGrabType(), IGRAB_TALON);
    EXPECT_EQ(g.GetRejectorDelay(), 1500u);
    EXPECT_EQ(g.GetExposure(), 512.0);
    EXPECT_EQ(g.SolutionBits(), 0);
    ExpectNeverInitialized(g);
}

TEST(GrabTagBackends, Ieee1394) {
    Probe<CIGrab1394> g;
    EXPECT_EQ(g.GetGrabType(), IGRAB_1394);
    EXPECT_EQ(g.GetRejectorDelay(), 100u);
    EXPECT_EQ(g.GetExposure(), 100.0);
    EXPECT_EQ(g.SolutionBits(), 0);
    ExpectNeverInitialized(g);
}

TEST(GrabTagBackends, QB2EWithoutMarkerFile) {
    if (FileExists("/windows/sicam.txt")) GTEST_SKIP() << "the QB2E marker file exists on this machine";
    Probe<CIGrabQB2E> g;
    EXPECT_EQ(g.GetGrabType(), IGRAB_QB2E);
    EXPECT_EQ(g.GetRejectorDelay(), 1500u);
    EXPECT_EQ(g.SolutionBits(), 3);
    ExpectNeverInitialized(g);
}

TEST(GrabTagBackends, DestructorsEndTheSchedulerThread) {
    // Deleted through the interface with the scheduler thread running.
    std::unique_ptr<IXGrab> grabs[] = {std::make_unique<CIGrabQB1>(), std::make_unique<CIGrabTalon>(),
                                       std::make_unique<CIGrab1394>(), std::make_unique<CIGrabQB2E>()};
    for (auto& g : grabs) ASSERT_EQ(g->Initialize(), 1);
    for (auto& g : grabs) g.reset();
}
