// Starting a child process on Windows: CreateProcessW with pipes on its
// standard handles and an environment block of its own.
#include <windows.h>

#include <algorithm>
#include <cwctype>

#include "support/child_process.h"

namespace kiru_test {

namespace {

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string ErrorText(const char* what) { return std::string(what) + " failed, error " + std::to_string(::GetLastError()); }

// One argument as the runtime's command-line parser splits it back out:
// quoted when empty or holding blanks or quotes; backslashes doubled only
// before a quote.
std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    for (auto it = arg.begin();; ++it) {
        std::size_t backslashes = 0;
        while (it != arg.end() && *it == L'\\') {
            ++it;
            ++backslashes;
        }
        if (it == arg.end()) {
            quoted.append(backslashes * 2, L'\\');
            break;
        }
        quoted.append(*it == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        quoted.push_back(*it);
    }
    quoted.push_back(L'"');
    return quoted;
}

std::wstring UpperName(const std::wstring& entry) {
    // A leading '=' belongs to the name (the per-drive folder entries).
    std::wstring name = entry.substr(0, entry.find(L'=', 1));
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
    return name;
}

// This process's environment with the entries of `env` in place of any of
// the same name, sorted by name without regard to case as the system keeps
// it, as a block of NUL-ended strings ended by another NUL.
bool EnvironmentBlock(const std::vector<std::string>& env, std::wstring* block) {
    wchar_t* current = ::GetEnvironmentStringsW();
    if (current == nullptr) return false;
    std::vector<std::wstring> entries;
    std::vector<std::wstring> added;
    for (const std::string& e : env) added.push_back(Widen(e));
    for (const wchar_t* e = current; *e != L'\0'; e += std::wcslen(e) + 1) {
        const std::wstring entry(e);
        const bool replaced = std::any_of(added.begin(), added.end(),
                                          [&](const std::wstring& a) { return UpperName(a) == UpperName(entry); });
        if (!replaced) entries.push_back(entry);
    }
    ::FreeEnvironmentStringsW(current);
    entries.insert(entries.end(), added.begin(), added.end());
    std::stable_sort(entries.begin(), entries.end(),
                     [](const std::wstring& x, const std::wstring& y) { return UpperName(x) < UpperName(y); });
    block->clear();
    for (const std::wstring& e : entries) block->append(e).push_back(L'\0');
    block->push_back(L'\0');
    return true;
}

void CloseIfOpen(HANDLE* handle) {
    if (*handle != nullptr) ::CloseHandle(*handle);
    *handle = nullptr;
}

}  // namespace

std::filesystem::path SelfExecutable() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return std::filesystem::path();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

bool ChildProcess::Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env, std::string* why) {
    Kill();
    out_.clear();
    std::wstring commandLine = Quote(program.wstring());
    for (const std::string& arg : args) commandLine += L" " + Quote(Widen(arg));
    std::wstring block;
    if (!EnvironmentBlock(env, &block)) {
        *why = ErrorText("GetEnvironmentStringsW");
        return false;
    }
    // The child inherits its ends of the pipes; this process's ends stay here.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
    auto fail = [&](const char* what) {
        *why = ErrorText(what);
        for (HANDLE* h : {&inRead, &inWrite, &outRead, &outWrite}) CloseIfOpen(h);
        return false;
    };
    if (!::CreatePipe(&inRead, &inWrite, &inherit, 0)) return fail("CreatePipe");
    if (!::CreatePipe(&outRead, &outWrite, &inherit, 0)) return fail("CreatePipe");
    if (!::SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0) ||
        !::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0))
        return fail("SetHandleInformation");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                          CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, &block[0], nullptr, &startup, &info)) {
        const std::string error = ErrorText("CreateProcessW");
        fail("CreateProcessW");
        *why = "cannot start " + program.string() + ": " + error;
        return false;
    }
    ::CloseHandle(info.hThread);
    CloseIfOpen(&inRead);
    CloseIfOpen(&outWrite);
    process_ = info.hProcess;
    in_ = inWrite;
    outPipe_ = outRead;
    return true;
}

bool ChildProcess::ReadSome() {
    if (outPipe_ == nullptr) return false;
    char buffer[4096];
    DWORD got = 0;
    // The pipe breaks when the child's last handle to its end closes.
    if (!::ReadFile(outPipe_, buffer, sizeof buffer, &got, nullptr) || got == 0) return false;
    out_.append(buffer, got);
    return true;
}

void ChildProcess::CloseInput() { CloseIfOpen(&in_); }

void ChildProcess::CloseOutput() { CloseIfOpen(&outPipe_); }

int ChildProcess::Reap(bool kill) {
    if (process_ == nullptr) return -1;
    bool killed = false;
    if (kill) killed = ::TerminateProcess(process_, 1) != 0;
    DWORD code = 0;
    const bool ended = ::WaitForSingleObject(process_, INFINITE) == WAIT_OBJECT_0 &&
                       ::GetExitCodeProcess(process_, &code) != 0;
    CloseIfOpen(&process_);
    if (!ended || killed) return -1;
    return static_cast<int>(code);
}

}  // namespace kiru_test
