// The frame bookkeeping every back-end keeps: once acquisition has stopped,
// each frame produced has exactly one fate.
#pragma once

#include <gtest/gtest.h>
#include <kiru/kiru.h>

namespace kiru_test {

// The counts of `camera` (-1: every camera), checked to add up.
inline KiruFrameCounts ExpectCountsAddUp(CIGrab& grab, int camera = -1) {
    KiruFrameCounts n{};
    EXPECT_EQ(grab.GetFrameCounts(camera, &n), 1);
    EXPECT_EQ(n.produced, n.delivered + n.unclaimed + n.trashed + n.lost);
    return n;
}

}  // namespace kiru_test
