// Settings storage of the common layer: the 32 input-line and 32 output-line
// records, written to and read from the client's XiStorage under per-line
// keys. Back-ends that store more call these as part of their own versions.
#include <cstdio>
#include <kiru/cigrab.h>

namespace {

constexpr int kLines = 32;

// Forms "<prefix><line>.<field>" into key.
void FormKey(char (&key)[64], const char* prefix, int line, const char* field) {
    std::snprintf(key, sizeof key, "%s%d.%s", prefix, line, field);
}

// Writes in order and stops writing at the first failure; the key names are
// still formed for every field.
class OrderedWriter {
public:
    explicit OrderedWriter(XiStorage* store) : store_(store) {}

    void ULong(const char* prefix, int line, const char* field, ULONG value) {
        char key[64];
        FormKey(key, prefix, line, field);
        if (!failed_) failed_ = store_->SetULong(key, value) != 0;
    }

    void Float(const char* prefix, int line, const char* field, float value) {
        char key[64];
        FormKey(key, prefix, line, field);
        if (!failed_) failed_ = store_->SetFloat(key, value) != 0;
    }

private:
    XiStorage* store_;
    bool failed_ = false;
};

// A field changes only when its read succeeds; the default offered is the
// field's current value.
void ReadULong(XiStorage* store, const char* prefix, int line, const char* field, ULONG& value) {
    char key[64];
    FormKey(key, prefix, line, field);
    ULONG read = value;
    if (store->GetULong(key, &read, value) == 0) value = read;
}

void ReadFloat(XiStorage* store, const char* prefix, int line, const char* field, float& value) {
    char key[64];
    FormKey(key, prefix, line, field);
    float read = value;
    if (store->GetFloat(key, &read, value) == 0) value = read;
}

}  // namespace

int IXGrab::SaveStorage(XiStorage*) { return 1; }

int IXGrab::LoadStorage(XiStorage*) { return 1; }

int CIGrab::SaveStorage(XiStorage* store) {
    if (store == nullptr) return 1;
    OrderedWriter writer(store);
    for (int line = 0; line < kLines; ++line) {
        const IFW_GPI_CONFIG& gpi = m_gpiConfig[line];
        writer.ULong("GPI", line, "Debounce", gpi.Debounce);
        writer.ULong("GPI", line, "Polarity", gpi.Polarity);
        writer.Float("GPI", line, "Threshold", gpi.Threshold);
        writer.ULong("GPI", line, "Options", gpi.Options);
    }
    for (int line = 0; line < kLines; ++line) {
        const IFW_GPO_CONFIG& gpo = m_gpoConfig[line];
        writer.ULong("GPO", line, "Polarity", gpo.Polarity);
        writer.ULong("GPO", line, "Offset", gpo.Offset);
        writer.ULong("GPO", line, "Duration", gpo.Duration);
        writer.ULong("GPO", line, "Driver", static_cast<ULONG>(gpo.Driver));
        writer.ULong("GPO", line, "initVal", gpo.initVal);
    }
    return 1;
}

int CIGrab::LoadStorage(XiStorage* store) {
    if (store == nullptr) return 1;
    for (int line = 0; line < kLines; ++line) {
        IFW_GPI_CONFIG& gpi = m_gpiConfig[line];
        ReadULong(store, "GPI", line, "Debounce", gpi.Debounce);
        ReadULong(store, "GPI", line, "Polarity", gpi.Polarity);
        ReadFloat(store, "GPI", line, "Threshold", gpi.Threshold);
        ReadULong(store, "GPI", line, "Options", gpi.Options);
        SetGPIConfig(static_cast<ULONG>(line), &gpi);
    }
    for (int line = 0; line < kLines; ++line) {
        IFW_GPO_CONFIG& gpo = m_gpoConfig[line];
        ReadULong(store, "GPO", line, "Polarity", gpo.Polarity);
        ReadULong(store, "GPO", line, "Offset", gpo.Offset);
        ReadULong(store, "GPO", line, "Duration", gpo.Duration);
        ULONG driver = static_cast<ULONG>(gpo.Driver);
        ReadULong(store, "GPO", line, "Driver", driver);
        gpo.Driver = static_cast<IFW_GPO_DRIVER>(driver);
        ReadULong(store, "GPO", line, "initVal", gpo.initVal);
        SetGPOConfig(static_cast<ULONG>(line), &gpo);
    }
    return 1;
}
