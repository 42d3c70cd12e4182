#include "support/memory_storage.h"

int MemoryStorage::Write(const char* op, const char* key, Type type, double value) {
    calls_.push_back(Call{op, key, value});
    if (broken_ || (writesUntilFailure_ > 0 && --writesUntilFailure_ == 0)) return 1;
    values_[key] = Value{type, value};
    return 0;
}

bool MemoryStorage::Read(const char* op, const char* key, Type type, double def, double* out) {
    calls_.push_back(Call{op, key, def});
    if (broken_) {
        *out = 77;
        return false;
    }
    auto it = values_.find(key);
    if (it == values_.end() || it->second.type != type) return false;
    *out = it->second.value;
    return true;
}

int MemoryStorage::SetDouble(const char* key, double value) { return Write("SetDouble", key, Type::Double, value); }
int MemoryStorage::SetFloat(const char* key, float value) { return Write("SetFloat", key, Type::Float, value); }
int MemoryStorage::SetULong(const char* key, ULONG value) { return Write("SetULong", key, Type::ULong, value); }

int MemoryStorage::GetDouble(const char* key, double* out, double def) {
    double value = def;
    const bool found = Read("GetDouble", key, Type::Double, def, &value);
    *out = value;
    return found ? 0 : 1;
}

int MemoryStorage::GetFloat(const char* key, float* out, float def) {
    double value = def;
    const bool found = Read("GetFloat", key, Type::Float, def, &value);
    *out = static_cast<float>(value);
    return found ? 0 : 1;
}

int MemoryStorage::GetULong(const char* key, ULONG* out, ULONG def) {
    double value = def;
    const bool found = Read("GetULong", key, Type::ULong, def, &value);
    *out = static_cast<ULONG>(value);
    return found ? 0 : 1;
}

void MemoryStorage::FailWrite(int n) { writesUntilFailure_ = n; }

void MemoryStorage::Put(const std::string& key, Type type, double value) { values_[key] = Value{type, value}; }

std::size_t MemoryStorage::CallCount(const std::string& op) const {
    std::size_t count = 0;
    for (const Call& call : calls_) count += call.op.compare(0, op.size(), op) == 0 ? 1 : 0;
    return count;
}
