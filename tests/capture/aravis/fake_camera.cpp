#include "fake_camera.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "support/poll.h"

extern char** environ;

namespace kiru_test {

std::string NotInPrivateNamespace() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return "cannot list the network interfaces";
    std::string other;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if ((a->ifa_flags & IFF_UP) && !(a->ifa_flags & IFF_LOOPBACK)) other = a->ifa_name;
    }
    freeifaddrs(list);
    if (other.empty()) return "";
    return "interface " + other + " is up: run through in_netns.sh (a private network namespace)";
}

std::string Run(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    std::array<char, 512> chunk{};
    while (std::fgets(chunk.data(), chunk.size(), pipe)) out += chunk.data();
    const int rc = pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

std::string Control(const std::string& what) {
    const std::string out = Run("arv-tool-0.8 -a 127.0.0.1 control '" + what + "' 2>/dev/null");
    const std::size_t eq = out.find(" = ");
    if (eq == std::string::npos) return "";
    const std::size_t end = out.find_first_of(" \n", eq + 3);
    return out.substr(eq + 3, end == std::string::npos ? std::string::npos : end - eq - 3);
}

bool FakeCamera::Start() {
    Stop();
    const char* argv[] = {"arv-fake-gv-camera-0.8", "-i", "127.0.0.1", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 1, 0);  // O_WRONLY
    const int rc = posix_spawnp(&m_pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        return false;
    }
    return WaitUntil([] { return Control("DeviceModelName") == "Fake"; });
}

void FakeCamera::Stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGKILL);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
}

}  // namespace kiru_test
