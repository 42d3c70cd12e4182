// An in-memory XiStorage for tests: keeps typed values, records every call
// in order (operation, key and the default offered by reads), and can be
// told to fail one write, or to fail every call.
#pragma once

#include <kiru/xistorage.h>
#include <map>
#include <string>
#include <vector>

class MemoryStorage : public XiStorage {
public:
    enum class Type { Double, Float, ULong };

    struct Call {
        std::string op;    // "SetULong", "GetFloat", ...
        std::string key;
        double value = 0;  // the value written, or the default offered by a read
    };

    // Storage operations: writes return 0 and store the value, except the
    // write chosen with FailWrite, which returns 1 and stores nothing. Reads
    // return 0 with the stored value when the key holds a value of the type
    // asked for; otherwise they return 1 and give the default back in out.
    int SetDouble(const char* key, double value) override;
    int SetFloat(const char* key, float value) override;
    int SetULong(const char* key, ULONG value) override;
    int GetDouble(const char* key, double* out, double def) override;
    int GetFloat(const char* key, float* out, float def) override;
    int GetULong(const char* key, ULONG* out, ULONG def) override;

    // Makes the n-th write from now on (1-based) fail; 0 turns this off.
    void FailWrite(int n);
    // Makes every write fail, and every read fail leaving garbage (77) in
    // out, which a caller must not take.
    void Break() { broken_ = true; }

    // Direct access for setting up and checking, not recorded as calls.
    void Put(const std::string& key, Type type, double value);
    bool Has(const std::string& key) const { return values_.count(key) != 0; }
    Type TypeOf(const std::string& key) const { return values_.at(key).type; }
    double ValueOf(const std::string& key) const { return values_.at(key).value; }
    std::size_t Size() const { return values_.size(); }

    const std::vector<Call>& Calls() const { return calls_; }
    // The number of calls whose operation starts with `op` ("Set", "Get", "GetFloat", ...).
    std::size_t CallCount(const std::string& op) const;
    void ClearCalls() { calls_.clear(); }

private:
    struct Value {
        Type type;
        double value;
    };

    int Write(const char* op, const char* key, Type type, double value);
    bool Read(const char* op, const char* key, Type type, double def, double* out);

    std::map<std::string, Value> values_;
    std::vector<Call> calls_;
    int writesUntilFailure_ = 0;
    bool broken_ = false;
};
