// Shared pieces of the board back-end tests: a fixture that starts and ends
// every test with an empty station, a debug catcher that keeps what the
// object said, and recorders for the frame, solution and input callbacks.
#pragma once

#include <gtest/gtest.h>
#include <kiru/kiru.h>
#include <kiru/station.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "support/poll.h"
#include "support/station_trace.h"

namespace kiru_test {

using kiru::sim::Station;

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override { Station::Reset(); }
    void TearDown() override { Station::Reset(); }

    static void Load(const std::string& text) {
        std::string error;
        ASSERT_TRUE(Station::LoadText(text, "board.ini", &error)) << error;
    }
    static ULONG ModuleParam(const char* module, ULONG number) {
        ULONG value = 0;
        Station::GetModuleParam(module, 0, number, &value);
        return value;
    }
    static double Param(const char* module, ULONG number) {
        double value = -1.0;
        Station::GetParam(module, 0, 0, number, &value);
        return value;
    }
};

// What the debug catcher heard.
struct Heard {
    std::mutex mutex;
    std::vector<std::string> lines;
    static int Catch(void* context, char* text) {
        auto* self = static_cast<Heard*>(context);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->lines.emplace_back(text);
        return 0;
    }
    bool Contains(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }
};

// Frames the buffer callback saw.
struct Frames {
    std::atomic<int> count{0};
    std::atomic<unsigned> last{0};
    static int OnFrame(unsigned char*, unsigned int frame, std::int64_t, void* context) {
        auto* self = static_cast<Frames*>(context);
        self->last = frame;
        ++self->count;
        return 0;
    }
};

// What the change-solution callback saw; it comes without an image.
struct SolutionSeen {
    std::atomic<int> calls{0};
    std::atomic<unsigned> solution{0};
    static int OnChange(unsigned char* image, unsigned int solution, std::int64_t, void* context) {
        auto* self = static_cast<SolutionSeen*>(context);
        EXPECT_EQ(image, nullptr);
        self->solution = solution;
        ++self->calls;
        return 0;
    }
};

// What the input-active callbacks saw: how many calls, and the last one's input.
struct InputSeen {
    std::atomic<int> calls{0};
    std::atomic<UINT> index{99};
    static int OnInput(UINT index, void* context) {
        auto* self = static_cast<InputSeen*>(context);
        self->index = index;
        ++self->calls;
        return 0;
    }
};

}  // namespace kiru_test
