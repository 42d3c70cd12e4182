// Shared pieces of the GigE back-end tests: a fixture that starts and ends
// every test with an empty station, trace helpers, a grab object that shows
// what the tests need of its insides, and a thread-safe record of the frames
// and events the callbacks received.
#pragma once

#include <gtest/gtest.h>
#include <kiru/kiru.h>
#include <kiru/station.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "capture/module.h"
#include "capture/orv_types.h"
#include "support/poll.h"

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
        kiru::SetFactoryDbgCatcher(nullptr, nullptr);
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
    static bool Traced(const std::string& line) { return TracedInOrder({line}); }
    // True when `lines` appear in the trace in this order (others may come between).
    static bool TracedInOrder(const std::vector<std::string>& lines) {
        const std::vector<std::string> trace = Station::Trace();
        auto at = trace.begin();
        for (const std::string& line : lines) {
            at = std::find(at, trace.end(), line);
            if (at == trace.end()) return false;
            ++at;
        }
        return true;
    }
    // The numbers after `prefix` on each trace line that starts with it.
    static std::vector<std::vector<long long>> Numbers(const std::string& prefix) {
        std::vector<std::vector<long long>> out;
        for (const std::string& line : Station::Trace()) {
            if (line.rfind(prefix, 0) != 0) continue;
            std::istringstream rest(line.substr(prefix.size()));
            out.emplace_back();
            for (long long n = 0; rest >> n;) out.back().push_back(n);
        }
        return out;
    }

    std::unique_ptr<ProbeGev> grab;
    Record record;
};

}  // namespace kiru_test
