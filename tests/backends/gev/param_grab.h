// A GigE grab object initialized on a simulated station, for the parameter
// and colour tests. Unless told to run for real, Start and Stop only record
// their calls (with the trace length at that moment) and flip the running
// flag, so that a test sees what was programmed between them.
#pragma once

#include <kiru/kiru.h>
#include <kiru/station.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kiru_test {

using kiru::sim::Station;
using TraceLines = std::vector<std::string>;

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
    // Trace lines starting with `prefix`, in order.
    static TraceLines Lines(const std::string& prefix) {
        TraceLines out;
        for (const std::string& line : Station::Trace())
            if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
        return out;
    }
    static double Param(ULONG camera, ULONG number, ULONG sub = 0) {
        double value = -1.0;
        Station::GetParam("GEV", camera, 0, number, &value, sub);
        return value;
    }
};

}  // namespace kiru_test
