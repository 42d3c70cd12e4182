// Shared pieces of the capture tests: a fixture that starts and ends every
// test with an empty station and owns the modules a test opens.
#pragma once

#include <gtest/gtest.h>
#include <kiru/station.h>

#include <memory>
#include <string>
#include <vector>

#include "capture/orv.h"
#include "support/poll.h"

namespace kiru::test {

using kiru_test::WaitUntil;

class StationTest : public ::testing::Test {
protected:
    void SetUp() override { kiru::sim::Station::Reset(); }
    void TearDown() override { kiru::sim::Station::Reset(); }

    // Loads station text; fails the test with the parser's message.
    void Load(const std::string& text) {
        std::string error;
        ASSERT_TRUE(kiru::sim::Station::LoadText(text, "test.ini", &error)) << error;
    }
    // Opens a module of the loaded station, owned by the fixture.
    CICapMod* Open(const char* name, ULONG index = 0) {
        modules_.emplace_back(OrxCreateCaptureModule(name, index, nullptr));
        EXPECT_NE(modules_.back(), nullptr) << name << ":" << index;
        return modules_.back().get();
    }

    std::vector<std::unique_ptr<CICapMod>> modules_;
};

// A test of one camera: camera 0 of a module of the loaded station.
class CameraStationTest : public StationTest {
protected:
    // Loads station text and opens camera 0 of module `name`, index 0.
    void OpenCamera(const std::string& text, const char* name = "GEV") {
        Load(text);
        module = Open(name);
        camera = module ? module->GetCam(0) : nullptr;
        ASSERT_NE(camera, nullptr);
    }

    CICapMod* module = nullptr;
    CICamera* camera = nullptr;
};

}  // namespace kiru::test
