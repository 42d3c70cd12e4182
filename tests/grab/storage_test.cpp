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

std::string Key(const char* prefix, int line, const char* field) {
    return prefix + std::to_string(line) + "." + field;
}

// The 288 writes of a full save, in order: op and key.
std::vector<std::pair<std::string, std::string>> ExpectedWrites() {
    std::vector<std::pair<std::string, std::string>> writes;
    for (int line = 0; line < 32; ++line) {
        writes.emplace_back("SetULong", Key("GPI", line, "Debounce"));
        writes.emplace_back("SetULong", Key("GPI", line, "Polarity"));
        writes.emplace_back("SetFloat", Key("GPI", line, "Threshold"));
        writes.emplace_back("SetULong", Key("GPI", line, "Options"));
    }
    for (int line = 0; line < 32; ++line) {
        for (const char* field : {"Polarity", "Offset", "Duration", "Driver", "initVal"})
            writes.emplace_back("SetULong", Key("GPO", line, field));
    }
    return writes;
}

TEST(SettingsStorage, SaveWritesEveryKeyInOrderAndLoadRestoresAllRecords) {
    CIGrab source;
    for (ULONG line = 0; line < 32; ++line) {
        IFW_GPI_CONFIG gpi = DistinctInput(line);
        IFW_GPO_CONFIG gpo = DistinctOutput(line);
        source.SetGPIConfig(line, &gpi);
        source.SetGPOConfig(line, &gpo);
    }
    MemoryStorage store;
    EXPECT_EQ(source.SaveStorage(&store), 1);

    const auto expected = ExpectedWrites();
    ASSERT_EQ(store.Calls().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(store.Calls()[i].op, expected[i].first) << "write " << i;
        EXPECT_EQ(store.Calls()[i].key, expected[i].second) << "write " << i;
    }
    EXPECT_EQ(store.ValueOf("GPI5.Threshold"), 5.25);
    EXPECT_EQ(store.ValueOf("GPO31.initVal"), 0xABCD0000u + 31);
    EXPECT_EQ(store.ValueOf("GPO17.Driver"), 17 % 9);
    EXPECT_FALSE(store.Has("GPI0.State"));

    RecordingGrab target;
    IFW_GPI_CONFIG withState{};
    target.GetGPIConfig(3, &withState);
    withState.State = 77;  // not stored, so a load keeps it
    target.SetGPIConfig(3, &withState);
    target.applied.clear();

    EXPECT_EQ(target.LoadStorage(&store), 1);
    for (ULONG line = 0; line < 32; ++line) {
        IFW_GPI_CONFIG gpi{};
        IFW_GPO_CONFIG gpo{};
        target.GetGPIConfig(line, &gpi);
        target.GetGPOConfig(line, &gpo);
        const IFW_GPI_CONFIG wantIn = DistinctInput(line);
        const IFW_GPO_CONFIG wantOut = DistinctOutput(line);
        EXPECT_EQ(gpi.Debounce, wantIn.Debounce);
        EXPECT_EQ(gpi.Polarity, wantIn.Polarity);
        EXPECT_EQ(gpi.Threshold, wantIn.Threshold);
        EXPECT_EQ(gpi.Options, wantIn.Options);
        EXPECT_EQ(gpo.Polarity, wantOut.Polarity);
        EXPECT_EQ(gpo.Offset, wantOut.Offset);
        EXPECT_EQ(gpo.Duration, wantOut.Duration);
        EXPECT_EQ(gpo.Driver, wantOut.Driver);
        EXPECT_EQ(gpo.initVal, wantOut.initVal);
    }
    // Each line's hook received the freshly loaded record, whose state word
    // the load left alone.
    ASSERT_EQ(target.applied.size(), 64u);
    EXPECT_EQ(target.applied[3].gpi.State, 77u);
    EXPECT_EQ(target.applied[9].gpi.Options, 1009u);
    EXPECT_EQ(target.applied[32 + 4].gpo.Duration, 304u);
}

TEST(SettingsStorage, SaveStopsWritingAtTheFirstFailedWrite) {
    CIGrab grab;
    MemoryStorage store;
    store.FailWrite(3);
    EXPECT_EQ(grab.SaveStorage(&store), 1);
    ASSERT_EQ(store.Calls().size(), 3u);
    EXPECT_EQ(store.Calls()[0].key, "GPI0.Debounce");
    EXPECT_EQ(store.Calls()[1].key, "GPI0.Polarity");
    EXPECT_EQ(store.Calls()[2].op, "SetFloat");
    EXPECT_EQ(store.Calls()[2].key, "GPI0.Threshold");
    EXPECT_EQ(store.Size(), 2u);
}

TEST(SettingsStorage, LoadFromEmptyStoreKeepsRecordsAndAppliesEveryLineInputsFirst) {
    RecordingGrab grab;
    IFW_GPO_CONFIG custom = DistinctOutput(6);
    grab.SetGPOConfig(6, &custom);
    grab.applied.clear();
    std::vector<IFW_GPI_CONFIG> inputsBefore(32);
    std::vector<IFW_GPO_CONFIG> outputsBefore(32);
    for (ULONG line = 0; line < 32; ++line) {
        grab.GetGPIConfig(line, &inputsBefore[line]);
        grab.GetGPOConfig(line, &outputsBefore[line]);
    }

    MemoryStorage store;
    EXPECT_EQ(grab.LoadStorage(&store), 1);

    ASSERT_EQ(grab.applied.size(), 64u);
    for (ULONG i = 0; i < 64; ++i) {
        EXPECT_EQ(grab.applied[i].output, i >= 32) << i;
        EXPECT_EQ(grab.applied[i].line, i % 32) << i;
    }
    for (ULONG line = 0; line < 32; ++line) {
        IFW_GPI_CONFIG gpi{};
        IFW_GPO_CONFIG gpo{};
        grab.GetGPIConfig(line, &gpi);
        grab.GetGPOConfig(line, &gpo);
        EXPECT_EQ(0, std::memcmp(&gpi, &inputsBefore[line], sizeof gpi)) << line;
        EXPECT_EQ(0, std::memcmp(&gpo, &outputsBefore[line], sizeof gpo)) << line;
    }
    // Every read offered the field's current value as its default.
    ASSERT_EQ(store.Calls().size(), 288u);
    const auto& calls = store.Calls();
    EXPECT_EQ(calls[0].op, "GetULong");
    EXPECT_EQ(calls[0].key, "GPI0.Debounce");
    EXPECT_EQ(calls[0].value, inputsBefore[0].Debounce);
    EXPECT_EQ(calls[2].op, "GetFloat");
    EXPECT_EQ(calls[2].value, inputsBefore[0].Threshold);
    const std::size_t line6 = 128 + 6 * 5;
    EXPECT_EQ(calls[line6 + 1].key, "GPO6.Offset");
    EXPECT_EQ(calls[line6 + 1].value, custom.Offset);
    EXPECT_EQ(calls[line6 + 3].value, custom.Driver);
    EXPECT_EQ(calls[line6 + 4].key, "GPO6.initVal");
}

TEST(SettingsStorage, LoadTakesOnlyValuesThatWereRead) {
    CIGrab grab;
    IFW_GPI_CONFIG before{};
    grab.GetGPIConfig(7, &before);
    MemoryStorage store;
    store.Put("GPI7.Threshold", Type::Float, 2.5);
    store.Put("GPI7.Debounce", Type::Float, 99);  // wrong type: the read fails
    store.Put("GPO0.initVal", Type::ULong, 0xFFFFFFFFu);
    EXPECT_EQ(grab.LoadStorage(&store), 1);

    IFW_GPI_CONFIG gpi{};
    grab.GetGPIConfig(7, &gpi);
    EXPECT_EQ(gpi.Threshold, 2.5f);
    EXPECT_EQ(gpi.Debounce, before.Debounce);
    IFW_GPO_CONFIG gpo{};
    grab.GetGPOConfig(0, &gpo);
    EXPECT_EQ(gpo.initVal, 0xFFFFFFFFu);
}

TEST(SettingsStorage, InterfaceVersionsDoNothing) {
    IXGrab grab;
    MemoryStorage store;
    store.Put("GPI0.Debounce", Type::ULong, 5);
    IFW_GPI_CONFIG before{};
    grab.GetGPIConfig(0, &before);
    EXPECT_EQ(grab.SaveStorage(&store), 1);
    EXPECT_EQ(grab.LoadStorage(&store), 1);
    EXPECT_TRUE(store.Calls().empty());
    IFW_GPI_CONFIG after{};
    grab.GetGPIConfig(0, &after);
    EXPECT_EQ(after.Debounce, before.Debounce);
}

}  // namespace
