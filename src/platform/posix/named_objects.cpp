#include "platform/posix/named_objects.h"
#include "platform/posix/waitable_core.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kiru::platform::detail {
namespace {

struct Entry {
    ObjectKind kind = ObjectKind::Event;
    std::weak_ptr<Waitable> object;
    const Waitable* owner = nullptr;  // the object the entry belongs to, for ForgetNamedObject
    int lockFd = -1;                  // mutexes: the lock file, shared-locked while the entry lives
};

struct Registry {
    std::mutex lock;
    std::unordered_map<std::string, Entry> entries;
    bool folderTried = false;
    std::string folder;  // empty when no usable folder exists
    int gateFd = -1;
};

// Never destroyed: named objects may be released during process exit.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

int RetryFlock(int fd, int operation) {
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

// A folder only this user can write to, so that nobody else can plant or
// hold our lock files. Empty when it cannot be made safely.
std::string MakeLockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = (runtime && runtime[0] == '/') ? runtime : "/tmp";
    std::string folder = base + "/kiru-" + std::to_string(::geteuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        (info.st_mode & 0077) != 0)
        return {};
    return folder;
}

// Object names may hold any character; file names keep the portable ones
// and escape the rest. Very long names are shortened with a hash.
std::string FileNameFor(const std::string& name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '.' || c == '_' || c == '-';
        if (plain) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        }
    }
    if (encoded.size() > 200) {
        std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
        for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, "~%016llx", static_cast<unsigned long long>(hash));
        encoded = encoded.substr(0, 150) + suffix;
    }
    return "mutex." + encoded;
}

std::string PathInFolder(const Registry& registry, const std::string& file) {
    return registry.folder + "/" + file;
}

int OpenInFolder(const Registry& registry, const std::string& file) {
    return ::open(PathInFolder(registry, file).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

// The gate is a lock file that processes hold while they open, probe or
// remove a mutex's lock file. The exclusive probe and the switch to a
// shared lock are not one step, and a file must not be removed while
// another process is about to lock it; taking turns makes both safe.
bool EnterGate(Registry& registry) {
    if (!registry.folderTried) {
        registry.folderTried = true;
        registry.folder = MakeLockFolder();
        if (!registry.folder.empty()) registry.gateFd = OpenInFolder(registry, "gate");
    }
    return registry.gateFd >= 0 && RetryFlock(registry.gateFd, LOCK_EX) == 0;
}

void LeaveGate(Registry& registry) { RetryFlock(registry.gateFd, LOCK_UN); }

// Makes this process a holder of the lock file of `name`, opening it unless
// *fd is already open. Returns whether another process holds it too. *fd
// stays -1 when cross-process visibility is unavailable; the name then
// works within the process only.
bool JoinLockFile(Registry& registry, const std::string& name, int* fd) {
    if (!EnterGate(registry)) return false;
    if (*fd < 0) *fd = OpenInFolder(registry, FileNameFor(name));
    bool heldElsewhere = false;
    if (*fd >= 0) {
        // Exclusive succeeds only when no other process holds the file
        // (a lock this process holds on the same descriptor is converted).
        heldElsewhere = RetryFlock(*fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        RetryFlock(*fd, LOCK_SH);
    }
    LeaveGate(registry);
    return heldElsewhere;
}

// Drops this process's hold on the lock file; the last holder removes it.
void LeaveLockFile(Registry& registry, const std::string& name, int fd) {
    const bool gated = EnterGate(registry);
    if (gated && RetryFlock(fd, LOCK_EX | LOCK_NB) == 0)
        ::unlink(PathInFolder(registry, FileNameFor(name)).c_str());
    ::close(fd);
    if (gated) LeaveGate(registry);
}

}  // namespace

std::shared_ptr<Waitable> OpenOrCreateNamed(const std::string& name, ObjectKind kind,
                                            const std::function<std::shared_ptr<Waitable>()>& make,
                                            NamedStatus* status) {
    Registry& registry = TheRegistry();
    // Declared before the lock: if this is the last reference, the object's
    // destructor (which takes the registry lock) runs after it is released.
    std::shared_ptr<Waitable> existing;
    std::lock_guard<std::mutex> guard(registry.lock);

    Entry& entry = registry.entries[name];
    existing = entry.object.lock();
    if (existing) {
        if (entry.kind != kind) {
            *status = NamedStatus::WrongKind;
            return nullptr;
        }
        *status = NamedStatus::Existed;
        return existing;
    }

    // New name, or the last object of that name is being destroyed and has
    // not released the entry yet: the new object takes the entry over.
    if (kind != ObjectKind::Mutex && entry.lockFd >= 0) {
        LeaveLockFile(registry, name, entry.lockFd);
        entry.lockFd = -1;
    }
    const bool heldElsewhere = kind == ObjectKind::Mutex && JoinLockFile(registry, name, &entry.lockFd);
    std::shared_ptr<Waitable> object = make();
    object->SetName(name);
    entry.kind = kind;
    entry.object = object;
    entry.owner = object.get();
    *status = heldElsewhere ? NamedStatus::Existed : NamedStatus::Created;
    return object;
}

void ForgetNamedObject(const std::string& name, const Waitable* object) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto it = registry.entries.find(name);
    if (it == registry.entries.end() || it->second.owner != object) return;
    if (it->second.lockFd >= 0) LeaveLockFile(registry, name, it->second.lockFd);
    registry.entries.erase(it);
}

}  // namespace kiru::platform::detail
