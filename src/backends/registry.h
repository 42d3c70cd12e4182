// The one table of back-ends the factory chooses from: for each, its grab
// type, the keyword words and capture-module names that select it, and the
// function that builds it. The order of the table is the order of the
// keyword tests ("LUXOR2" is tested before "MARLO").
#pragma once

#include <kiru/ifw_types.h>

#include <string>
#include <vector>

class IXGrab;

namespace kiru::backends {

struct Backend {
    IFW_IGRABTYPE type;
    const char* name;                   // for the factory's debug texts
    std::vector<std::string> keywords;  // a keyword holding one of these (and "MARLO") selects it
    std::vector<std::string> modules;   // an enumerated capture module of one of these names selects it
    // Builds the object; null when it cannot be allocated. A back-end not in
    // this library has no create function.
    IXGrab* (*create)() = nullptr;
    // Whether a built object has hardware behind it; when it has not, the
    // factory deletes it and falls back. Writes the reason into `why`. Null:
    // the object always answers.
    bool (*answers)(IXGrab* grab, std::string* why) = nullptr;
};

// The table in force.
const std::vector<Backend>& Table();

// Puts another table in force until it goes out of scope (tests use it to
// see which branch each keyword and module list takes). Not thread-safe
// against a concurrent KiruGrabInstantiate.
class ScopedTable {
public:
    explicit ScopedTable(std::vector<Backend> table);
    ~ScopedTable();
    ScopedTable(const ScopedTable&) = delete;
    ScopedTable& operator=(const ScopedTable&) = delete;

private:
    std::vector<Backend> previous_;
};

}  // namespace kiru::backends
