// Saving and loading the I/O line records through the client's storage.
#include <gtest/gtest.h>

#include <cstring>
#include <kiru/cigrab.h>
#include <string>
#include <vector>

#include "support/memory_storage.h"

namespace {

using Type = MemoryStorage::Type;

// Records which line records a load hands to the back-end hooks.
class RecordingGrab : public CIGrab {
public:
    struct Applied {
        bool output;
        ULONG line;
        IFW_GPI_CONFIG gpi;
        IFW_GPO_CONFIG gpo;
    };
    void SetGPIConfig(ULONG line, IFW_GPI_CONFIG* cfg) override {
        applied.push_back(Applied{false, line, *cfg, {}});
        CIGrab::SetGPIConfig(line, cfg);
    }
    void SetGPOConfig(ULONG line, IFW_GPO_CONFIG* cfg) override {
        applied.push_back(Applied{true, line, {}, *cfg});
        CIGrab::SetGPOConfig(line, cfg);
    }
    std::vector<Applied> applied;
};

IFW_GPI_CONFIG DistinctInput(ULONG line) {
    return IFW_GPI_CONFIG{line % 2, 10 + line, 0, 0.25f + static_cast<float>(line), 1000 + line};
}

IFW_GPO_CONFIG DistinctOutput(ULONG line) {
    return IFW_GPO_CONFIG{(line + 1) % 2, 20 + line, 300 + line, static_cast<IFW_GPO_DRIVER>(line % 9),
                          0xABCD0000u + line};
}

// The 288 keys of a full save, in order: every input line's fields, then
// every output line's.
std::vector<std::string> ExpectedKeys() {
    const std::vector<const char*> in = {"Debounce", "Polarity", "Threshold", "Options"};
    const std::vector<const char*> out = {"Polarity", "Offset", "Duration", "Driver", "initVal"};
    std::vector<std::string> keys;
    for (bool output : {false, true})
        for (int line = 0; line < 32; ++line)
            for (const char* field : output ? out : in)
                keys.push_back((output ? "GPO" : "GPI") + std::to_string(line) + "." + field);
    return keys;
}

// Each call names its key in order; only Threshold is a float.
void ExpectCallsInKeyOrder(const MemoryStorage& store, const char* verb, std::size_t count) {
    const auto keys = ExpectedKeys();
    ASSERT_EQ(store.Calls().size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        const bool isFloat = keys[i].find("Threshold") != std::string::npos;
        EXPECT_EQ(store.Calls()[i].op, verb + std::string(isFloat ? "Float" : "ULong")) << "call " << i;
        EXPECT_EQ(store.Calls()[i].key, keys[i]) << "call " << i;
    }
}

}  // namespace

TEST(SettingsStorage, SaveWritesEveryKeyInOrderAndLoadReadsThemBack) {
    CIGrab source;
    for (ULONG line = 0; line < 32; ++line) {
        IFW_GPI_CONFIG gpi = DistinctInput(line);
        IFW_GPO_CONFIG gpo = DistinctOutput(line);
        source.SetGPIConfig(line, &gpi);
        source.SetGPOConfig(line, &gpo);
    }
    MemoryStorage store;
    EXPECT_EQ(source.SaveStorage(&store), 1);
    ExpectCallsInKeyOrder(store, "Set", 288);
    EXPECT_EQ(store.ValueOf("GPI5.Threshold"), 5.25);
    EXPECT_EQ(store.ValueOf("GPO31.initVal"), 0xABCD0000u + 31);
    EXPECT_EQ(store.ValueOf("GPO17.Driver"), 17 % 9);
    // Writing stops at the first failed write.
    MemoryStorage failing;
    failing.FailWrite(3);
    EXPECT_EQ(source.SaveStorage(&failing), 1);
    ExpectCallsInKeyOrder(failing, "Set", 3);
    EXPECT_EQ(failing.Size(), 2u);

    // From an empty store: every read offers the field's current value as
    // its default, nothing changes, and every line's hook runs, inputs first.
    RecordingGrab target;
    IFW_GPI_CONFIG withState{};
    target.GetGPIConfig(3, &withState);
    withState.State = 77;  // not stored, so a load keeps it
    target.SetGPIConfig(3, &withState);
    IFW_GPO_CONFIG custom = DistinctOutput(6);
    target.SetGPOConfig(6, &custom);
    MemoryStorage before, empty, after;
    target.SaveStorage(&before);
    target.applied.clear();
    EXPECT_EQ(target.LoadStorage(&empty), 1);
    ExpectCallsInKeyOrder(empty, "Get", 288);
    for (const MemoryStorage::Call& read : empty.Calls()) EXPECT_EQ(read.value, before.ValueOf(read.key)) << read.key;
    EXPECT_EQ(empty.Calls()[128 + 6 * 5 + 1].value, custom.Offset);
    target.SaveStorage(&after);
    for (const MemoryStorage::Call& write : after.Calls()) EXPECT_EQ(write.value, before.ValueOf(write.key)) << write.key;
    ASSERT_EQ(target.applied.size(), 64u);
    for (ULONG i = 0; i < 64; ++i) {
        EXPECT_EQ(target.applied[i].output, i >= 32) << i;
        EXPECT_EQ(target.applied[i].line, i % 32) << i;
    }

    // From the full store every record comes back.
    target.applied.clear();
    EXPECT_EQ(target.LoadStorage(&store), 1);
    for (ULONG line = 0; line < 32; ++line) {
        // The state word is read from the inputs, which report 0.
        IFW_GPI_CONFIG gpi{}, wantIn = DistinctInput(line);
        IFW_GPO_CONFIG gpo{}, wantOut = DistinctOutput(line);
        target.GetGPIConfig(line, &gpi);
        target.GetGPOConfig(line, &gpo);
        EXPECT_EQ(std::memcmp(&gpi, &wantIn, sizeof gpi), 0) << "input " << line;
        EXPECT_EQ(std::memcmp(&gpo, &wantOut, sizeof gpo), 0) << "output " << line;
    }
    // Each line's hook received the freshly loaded record, whose state word
    // the load left alone.
    ASSERT_EQ(target.applied.size(), 64u);
    EXPECT_EQ(target.applied[3].gpi.State, 77u);
    EXPECT_EQ(target.applied[9].gpi.Options, 1009u);
    EXPECT_EQ(target.applied[32 + 4].gpo.Duration, 304u);
}

// Only values read with their own type are taken; the interface's own
// versions read and write nothing.
TEST(SettingsStorage, LoadTakesOnlyValuesThatWereRead) {
    CIGrab grab;
    IXGrab iface;
    MemoryStorage store;
    store.Put("GPI7.Threshold", Type::Float, 2.5);
    store.Put("GPI7.Debounce", Type::Float, 99);  // wrong type: the read fails
    store.Put("GPO0.initVal", Type::ULong, 0xFFFFFFFFu);
    store.Put("GPI0.Debounce", Type::ULong, 5);
    EXPECT_EQ(iface.SaveStorage(&store) + iface.LoadStorage(&store), 2);
    EXPECT_TRUE(store.Calls().empty());
    EXPECT_EQ(grab.LoadStorage(&store), 1);
    IFW_GPI_CONFIG gpi{};
    IFW_GPO_CONFIG gpo{};
    grab.GetGPIConfig(7, &gpi);
    grab.GetGPOConfig(0, &gpo);
    EXPECT_EQ(gpi.Threshold, 2.5f);
    EXPECT_EQ(gpi.Debounce, 200u);
    EXPECT_EQ(gpo.initVal, 0xFFFFFFFFu);
    iface.GetGPIConfig(0, &gpi);
    EXPECT_EQ(gpi.Debounce, 200u);
}
