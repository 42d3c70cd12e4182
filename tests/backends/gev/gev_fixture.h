// Shared pieces of the GigE back-end tests: a fixture that starts and ends
// every test with an empty station, a grab object that shows what the tests
// need of its insides, a thread-safe record of the frames and events the
// callbacks received, and the parameter and colour tests' fixture.
#pragma once

#include <gtest/gtest.h>
#include <kiru/kiru.h>
#include <kiru/station.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/module.h"
#include "capture/orv_types.h"
#include "support/poll.h"
#include "support/station_trace.h"

namespace kiru_test {

using kiru::sim::Station;

// One camera section of a station: 64 x 48, 8 bits unless `extra` says otherwise.
inline std::string Camera(int index, const std::string& extra = "") {
    return "[GEV:" + std::to_string(index) + "]\nWidth = 64\nHeight = 48\n" + extra;
}

// A GigE object whose destructor terminates first, so that no loop calls
// into the override of a half-destroyed object; it counts EnqueueResult and
// reads the hardware's grab statistics like the back-end does.
class ProbeGev : public CIGrabGev {
public:
    ~ProbeGev() override { Terminate(); }
    void EnqueueResult() override { ++enqueued; }
    const char* LastError() const { return m_lastError; }
    // Statistics of a camera's running grab (zeros without one).
    ORV_GRAB_STATS Stats(int camera) {
        ORV_GRAB_STATS stats{};
        OrvGrabTag* grab = __atomic_load_n(&m_grab[camera], __ATOMIC_ACQUIRE);
        if (m_camModule[camera] != nullptr && grab != nullptr) m_camModule[camera]->GetGrabStats(grab, &stats);
        return stats;
    }
    std::atomic<int> enqueued{0};
};

// What the callbacks saw. Frame callbacks wait at the door while `hold` is set.
struct Record {
    struct Frame {
        int camera;
        unsigned frame;
        std::vector<unsigned char> head;  // the first four bytes of each camera's image
    };
    std::mutex mutex;
    std::condition_variable opened;
    bool hold = false;
    std::vector<Frame> frames;
    std::vector<std::pair<int, ULONG>> events;
    std::vector<unsigned> trashed;
    std::size_t stride = 64 * 48;  // bytes from one camera's image to the next
    int cameras = 1;               // images per delivered frame

    std::size_t Frames() {
        std::lock_guard<std::mutex> lock(mutex);
        return frames.size();
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex);
        hold = false;
        opened.notify_all();
    }
    void Add(int camera, unsigned frame, const unsigned char* image) {
        std::unique_lock<std::mutex> lock(mutex);
        Frame f{camera, frame, {}};
        for (int c = 0; c < cameras && image != nullptr; ++c)
            f.head.insert(f.head.end(), image + c * stride, image + c * stride + 4);
        frames.push_back(std::move(f));
        opened.wait(lock, [this] { return !hold; });
    }
};

inline int OnBuffer(unsigned char* image, unsigned int frame, std::int64_t, void* context) {
    static_cast<Record*>(context)->Add(-1, frame, image);
    return 0;
}
inline int OnBufferEx(IFW_GRAB_BUF_DESC* desc, unsigned int frame, std::int64_t, void* context) {
    static_cast<Record*>(context)->Add(static_cast<int>(desc->camera), frame, desc->image);
    return 0;
}
inline int OnTrash(unsigned char* image, unsigned int frame, std::int64_t, void* context) {
    auto* record = static_cast<Record*>(context);
    std::lock_guard<std::mutex> lock(record->mutex);
    record->trashed.push_back(image == nullptr ? frame : ~0u);
    return 0;
}
inline int OnEvent(void* context, IFW_ACQ_EVENT_TYPE event, ULONG value) {
    auto* record = static_cast<Record*>(context);
    std::lock_guard<std::mutex> lock(record->mutex);
    record->events.emplace_back(static_cast<int>(event), value);
    return 0;
}

class GevTest : public ::testing::Test {
protected:
    void SetUp() override { Station::Reset(); }
    void TearDown() override {
        record.Open();  // a test that failed while callbacks were held lets them go
        grab.reset();
        Station::Reset();
    }
    void Load(const std::string& text) {
        std::string error;
        ASSERT_TRUE(Station::LoadText(text, "gev.ini", &error)) << error;
    }
    // Loads the station and initializes a fresh object on it.
    void Open(const std::string& text) {
        Load(text);
        grab = std::make_unique<ProbeGev>();
        ASSERT_EQ(grab->Initialize(), 1);
    }

    std::unique_ptr<ProbeGev> grab;
    Record record;
};

// A GigE grab object initialized on a simulated station, for the parameter
// and colour tests. Unless told to run for real, Start and Stop only record
// their calls (with the trace length at that moment) and flip the running
// flag, so that a test sees what was programmed between them.
class ParamGrab : public CIGrabGev {
public:
    ~ParamGrab() override { Terminate(); }
    void SetRejectorEnabled(int on) { m_rejectorEnabled = on; }
    HANDLE ObjectMutex() const { return m_objectMutex; }
    unsigned char* ColourBuffer() const { return m_colourBuffer; }

    bool real = false;                                       // Start and Stop run for real
    std::vector<std::pair<std::string, std::size_t>> calls;  // recorded Start/Stop and the trace length then
    int Start() override { return real ? CIGrabGev::Start() : Record("Start", 1); }
    int Stop() override { return real ? CIGrabGev::Stop() : Record("Stop", 0); }

private:
    int Record(const char* op, int running) {
        calls.emplace_back(op, Station::Trace().size());
        m_running = running;
        return 1;
    }
};

class GevParamTest : public ::testing::Test {
protected:
    void TearDown() override { Station::Reset(); }

    // The object initialized on `station`, with the trace cleared.
    static std::unique_ptr<ParamGrab> Grab(const std::string& station) {
        std::string error;
        EXPECT_TRUE(Station::LoadText(station, "gev.ini", &error)) << error;
        auto grab = std::make_unique<ParamGrab>();
        EXPECT_EQ(grab->Initialize(), 1) << grab->GetLastErrorMsg();
        Station::ClearTrace();
        return grab;
    }
    static double Param(ULONG camera, ULONG number, ULONG sub = 0) {
        double value = -1.0;
        Station::GetParam("GEV", camera, 0, number, &value, sub);
        return value;
    }
};

}  // namespace kiru_test
