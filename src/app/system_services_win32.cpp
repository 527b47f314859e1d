// System services of the Windows build.
#include <io.h>
#include <windows.h>

#include <ctime>

#include "app/command_option.h"
#include "app/system_services.h"
#include "ui/win32_window.h"

namespace {

class Win32Services : public ISystemServices {
public:
    std::string ModulePath() override {
        char buffer[256] = {};
        const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
        return std::string(buffer, n < sizeof buffer ? n : sizeof buffer - 1);
    }

    std::string RawCommandLine() override {
        const char* line = GetCommandLineA();
        return line != nullptr ? std::string(line) : std::string();
    }

    std::vector<std::string> Arguments() override {
        std::vector<std::string> items = SplitWindowsCommandLine(RawCommandLine());
        if (!items.empty())
            items.erase(items.begin());
        return items;
    }

    std::string ExecutablePath() override {
        return ExecutablePathFromCommandLine(RawCommandLine());
    }

    bool ChangeDirectory(const std::string& dir) override {
        return SetCurrentDirectoryA(dir.c_str()) != FALSE;
    }

    std::string WindowsFolder() override {
        char buffer[260] = {};
        const UINT n = GetWindowsDirectoryA(buffer, sizeof buffer);
        return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
    }

    int64_t Now() override { return static_cast<int64_t>(std::time(nullptr)); }

    void SleepMs(unsigned ms) override { ::Sleep(ms); }

    std::thread StartThread(std::function<void()> body) override {
        return std::thread(std::move(body));
    }

    ShutdownPrivilege EnableShutdownPrivilege() override {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
            return ShutdownPrivilege::NoToken;
        }
        TOKEN_PRIVILEGES privileges = {};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        bool enabled = false;
        if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
            SetLastError(ERROR_SUCCESS);
            enabled = AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                      GetLastError() == ERROR_SUCCESS;
        }
        CloseHandle(token);
        return enabled ? ShutdownPrivilege::Enabled : ShutdownPrivilege::NotEnabled;
    }

    bool RequestRestart() override { return ExitWindowsEx(EWX_REBOOT, 0xFFFFFFFF) != FALSE; }

    void KeepSystemAwake(bool on) override {
        SetThreadExecutionState(on ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
    }

    void BlockShutdown(const std::string& reason) override { SetWin32ShutdownBlock(&reason); }
    void UnblockShutdown() override { SetWin32ShutdownBlock(nullptr); }

    bool StdinIsTerminal() override { return _isatty(0) != 0; }
    bool StdoutIsTerminal() override { return _isatty(1) != 0; }
};

}  // namespace

std::unique_ptr<ISystemServices> CreatePlatformServices(int, char**) {
    return std::make_unique<Win32Services>();
}
