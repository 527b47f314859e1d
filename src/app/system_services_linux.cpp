// System services of the Linux build.
#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/logind_inhibitor.h"
#include "app/system_services.h"
#include "base/clock.h"
#include "base/environment.h"

extern char** environ;

namespace {

// Longest wait for logind's answer before a run starts without the lock.
constexpr int kInhibitTimeoutMs = 2000;
// The capability the kernel asks of a process that sends WRITE BUFFER or SEND DIAGNOSTIC.
constexpr int kCapSysRawio = 17;

std::string SelfPath() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return std::string();
    return std::string(buffer, static_cast<size_t>(n));
}

class LinuxServices : public ISystemServices {
public:
    LinuxServices(int argc, char** argv) {
        for (int i = 1; i < argc; ++i)
            m_args.emplace_back(argv[i]);
        m_program = argc > 0 && argv[0] != nullptr ? argv[0] : "";
    }

    ~LinuxServices() override { UnblockShutdown(); }
    LinuxServices(const LinuxServices&) = delete;
    LinuxServices& operator=(const LinuxServices&) = delete;

    std::string ModulePath() override { return SelfPath(); }

    std::string RawCommandLine() override {
        std::vector<std::string> items{m_program.empty() ? std::string("varnel") : m_program};
        items.insert(items.end(), m_args.begin(), m_args.end());
        return JoinCommandLine(items);
    }

    std::vector<std::string> Arguments() override { return m_args; }

    std::string ExecutablePath() override { return m_program.empty() ? SelfPath() : m_program; }

    bool ChangeDirectory(const std::string& dir) override { return chdir(dir.c_str()) == 0; }

    // The result log goes where VARNEL_LOG_DIR says, else into /var/log.
    std::string WindowsFolder() override {
        const std::string dir = EnvironmentSetting("VARNEL_LOG_DIR");
        return !dir.empty() ? dir : std::string("/var/log");
    }

    int64_t Now() override { return SecondsSince1970(); }

    void SleepMs(unsigned ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }

    std::thread StartThread(std::function<void()> body) override {
        return std::thread(std::move(body));
    }

    ShutdownPrivilege EnableShutdownPrivilege() override { return ShutdownPrivilege::Enabled; }

    // Runs the system's reboot command (VARNEL_REBOOT_COMMAND replaces it); accepted
    // when the command exits with status 0. reboot lives in an sbin folder, which is
    // not on every user's PATH.
    bool RequestRestart() override {
        const std::string custom = EnvironmentSetting("VARNEL_REBOOT_COMMAND");
        const std::string command =
            !custom.empty()
                ? custom
                : std::string("PATH=\"$PATH:/usr/sbin:/sbin\"; export PATH; exec reboot");
        std::string shell = "/bin/sh";
        std::string flag = "-c";
        std::string text = command;
        char* args[] = {shell.data(), flag.data(), text.data(), nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, args, environ) != 0)
            return false;
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR)
                return false;
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    // The sleep part of the inhibitor lock keeps the system awake.
    void KeepSystemAwake(bool) override {}

    // A logind "shutdown:sleep" block lock where logind is reachable; without it the run
    // goes on as it would anyway.
    void BlockShutdown(const std::string& reason) override {
        if (m_inhibitor >= 0)
            return;
        m_inhibitor =
            TakeInhibitorLock("shutdown:sleep", "Varnel", reason, "block", kInhibitTimeoutMs);
        if (m_inhibitor >= 0)
            fcntl(m_inhibitor, F_SETFD, FD_CLOEXEC);  // not for the reboot command
    }

    void UnblockShutdown() override {
        if (m_inhibitor >= 0)
            close(m_inhibitor);
        m_inhibitor = -1;
    }

    std::string DriveAccessHint(int deniedDevices) override {
        return DriveAccessHintFor("/dev", deniedDevices);
    }

    bool HasDrivePrivilege() override {
        std::string status;
        std::FILE* file = std::fopen("/proc/self/status", "rb");
        if (file == nullptr)
            return true;  // no way to tell: the kernel decides command by command
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0 && status.size() < 65536)
            status.append(buffer, n);
        std::fclose(file);
        return status.find("CapEff:") == std::string::npos ||
               HasEffectiveCapability(status, kCapSysRawio);
    }

    std::string DrivePrivilegeAdvice() override { return DrivePrivilegeAdviceFor(SelfPath()); }

    // VARNEL_POWER_SUPPLY_DIR names another folder of the same layout (tests).
    PowerSource Power() override {
        const std::string dir = EnvironmentSetting("VARNEL_POWER_SUPPLY_DIR");
        return PowerSourceOf(!dir.empty() ? dir : std::string("/sys/class/power_supply"));
    }

    void ReportLine(const std::string& line) override {
        std::fprintf(stderr, "varnel: %s\n", line.c_str());
        std::fflush(stderr);
    }

    bool StdinIsTerminal() override { return isatty(STDIN_FILENO) != 0; }
    bool StdoutIsTerminal() override { return isatty(STDOUT_FILENO) != 0; }

private:
    std::vector<std::string> m_args;
    std::string m_program;
    int m_inhibitor = -1;
};

// Name of a group; its number when it has no name.
std::string GroupName(gid_t gid) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->gr_name;
    return std::to_string(gid);
}

// The first line of a small sysfs file, without its line end; empty when it cannot be read.
std::string ReadSysfsValue(const std::filesystem::path& file) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (f == nullptr)
        return std::string();
    char buffer[64] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    std::string text(buffer, n);
    const size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

}  // namespace

PowerSource PowerSourceOf(const std::string& dir) {
    bool external = false;
    int batteries = 0;
    int known = 0;
    int charge = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::filesystem::path& supply = entry.path();
        const std::string type = ReadSysfsValue(supply / "type");
        if (type == "Mains" || type == "USB") {
            external = external || ReadSysfsValue(supply / "online") == "1";
        } else if (type == "Battery") {
            // A mouse's or a headset's battery does not feed the machine.
            if (ReadSysfsValue(supply / "scope") == "Device" ||
                ReadSysfsValue(supply / "present") == "0") {
                continue;
            }
            ++batteries;
            const std::string capacity = ReadSysfsValue(supply / "capacity");
            if (!capacity.empty() && capacity.size() <= 3 &&
                std::all_of(capacity.begin(), capacity.end(),
                            [](char c) { return c >= '0' && c <= '9'; })) {
                ++known;
                charge += std::min(std::stoi(capacity), 100);
            }
        }
    }
    PowerSource power;
    power.onBattery = !external && batteries > 0;
    // A battery whose charge is unknown makes the whole charge unknown.
    if (batteries > 0 && known == batteries)
        power.batteryPercent = charge / known;
    return power;
}

std::string DriveAccessHintFor(const std::string& devDir, int deniedDevices) {
    // The first optical drive device (sr0, sr1, ...) and the group that owns it.
    std::vector<int> numbers;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(devDir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 3 || name.size() > 8 || name.compare(0, 2, "sr") != 0 ||
            !std::all_of(name.begin() + 2, name.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        numbers.push_back(std::stoi(name.substr(2)));
    }
    std::sort(numbers.begin(), numbers.end());
    std::string device;
    struct stat info {};
    for (int n : numbers) {
        const std::string path = devDir + "/sr" + std::to_string(n);
        if (stat(path.c_str(), &info) == 0) {
            device = path;
            break;
        }
    }

    std::string text = "Permission denied: " + std::to_string(deniedDevices) +
                       (deniedDevices == 1 ? " drive" : " drives") +
                       " could not be opened. Run the updater as root (sudo).";
    if (!device.empty() && info.st_gid == 0)
        return text;
    const std::string group = device.empty() ? std::string("cdrom") : GroupName(info.st_gid);
    text += " Membership in the group that owns ";
    text += device.empty() ? "the drives (often " + group + ")" : device + " (" + group + ")";
    return text + " only lets a user list the drives; updating them also needs the capability " +
           "CAP_SYS_RAWIO.";
}

bool HasEffectiveCapability(const std::string& statusText, int capability) {
    const size_t line = statusText.find("CapEff:");
    if (line == std::string::npos || capability < 0 || capability > 63)
        return false;
    size_t at = line + 7;
    while (at < statusText.size() && (statusText[at] == ' ' || statusText[at] == '\t'))
        ++at;
    uint64_t mask = 0;
    int digits = 0;
    for (; at < statusText.size() && digits < 16; ++at, ++digits) {
        const char c = statusText[at];
        int value = 0;
        if (c >= '0' && c <= '9') {
            value = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            value = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            value = c - 'A' + 10;
        } else {
            break;
        }
        mask = mask << 4 | static_cast<uint64_t>(value);
    }
    return digits > 0 && (mask >> capability & 1) != 0;
}

std::string DrivePrivilegeAdviceFor(const std::string& program) {
    return "Run the updater as root (sudo), or give the program the capability CAP_SYS_RAWIO "
           "(sudo setcap cap_sys_rawio+ep " +
           (program.empty() ? std::string("PROGRAM") : program) +
           ") and run it as a member of the group that owns the drives: the group alone lets "
           "a user list the drives, not update them.";
}

std::unique_ptr<ISystemServices> CreatePlatformServices(int argc, char** argv) {
    return std::make_unique<LinuxServices>(argc, argv);
}
