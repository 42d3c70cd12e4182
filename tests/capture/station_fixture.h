// Shared pieces of the capture tests: a fixture that starts and ends every
// test with an empty station, and a bounded wait for a condition.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include <kiru/station.h>

namespace kiru::test {

class StationTest : public ::testing::Test {
protected:
    void SetUp() override { kiru::sim::Station::Reset(); }
    void TearDown() override { kiru::sim::Station::Reset(); }

    // Loads station text; fails the test with the parser's message.
    void Load(const std::string& text) {
        std::string error;
        ASSERT_TRUE(kiru::sim::Station::LoadText(text, "test.ini", &error)) << error;
    }
};

// Polls pred until it holds or the (generous) limit passes.
template <class Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace kiru::test
