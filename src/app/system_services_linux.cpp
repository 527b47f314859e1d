// System services of the Linux build.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>

#include "app/system_services.h"

extern char** environ;

namespace {

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
        m_program = argc > 0 ? argv[0] : "varnel";
    }

    std::string ModulePath() override { return SelfPath(); }

    std::string RawCommandLine() override {
        std::vector<std::string> items{m_program};
        items.insert(items.end(), m_args.begin(), m_args.end());
        return JoinCommandLine(items);
    }

    std::vector<std::string> Arguments() override { return m_args; }

    std::string ExecutablePath() override { return SelfPath(); }

    bool ChangeDirectory(const std::string& dir) override { return chdir(dir.c_str()) == 0; }

    // The result log goes where VARNEL_LOG_DIR says, else into /var/log.
    std::string WindowsFolder() override {
        const char* dir = std::getenv("VARNEL_LOG_DIR");
        return dir != nullptr && *dir != '\0' ? std::string(dir) : std::string("/var/log");
    }

    int64_t Now() override { return static_cast<int64_t>(std::time(nullptr)); }

    void SleepMs(unsigned ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }

    std::thread StartThread(std::function<void()> body) override {
        return std::thread(std::move(body));
    }

    ShutdownPrivilege EnableShutdownPrivilege() override { return ShutdownPrivilege::Enabled; }

    // Runs the system's reboot command (VARNEL_REBOOT_COMMAND replaces it); accepted
    // when the command exits with status 0.
    bool RequestRestart() override {
        const char* custom = std::getenv("VARNEL_REBOOT_COMMAND");
        const std::string command =
            custom != nullptr && *custom != '\0' ? std::string(custom) : std::string("reboot");
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

    bool StdinIsTerminal() override { return isatty(STDIN_FILENO) != 0; }
    bool StdoutIsTerminal() override { return isatty(STDOUT_FILENO) != 0; }

private:
    std::vector<std::string> m_args;
    std::string m_program;
};

}  // namespace

std::unique_ptr<ISystemServices> CreatePlatformServices(int argc, char** argv) {
    return std::make_unique<LinuxServices>(argc, argv);
}
