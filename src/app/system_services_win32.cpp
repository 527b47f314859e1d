// System services of the Windows build.
#include <io.h>
#include <windows.h>

#include "app/command_option.h"
#include "app/system_services.h"
#include "base/clock.h"
#include "ui/win32_window.h"

namespace {

std::wstring WideModulePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return std::wstring();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        if (buffer.size() >= 32768)
            return std::wstring();
        buffer.resize(buffer.size() * 2);
    }
}

// text in the code page of the system; false when a character has no 8-bit form there.
bool Narrow(const std::wstring& text, std::string* out) {
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(),
                                      static_cast<int>(text.size()), nullptr, 0, nullptr, &lossy);
    out->assign(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(),
                            static_cast<int>(text.size()), out->data(), n, nullptr, &lossy);
    }
    return n > 0 && !lossy;
}

class Win32Services : public ISystemServices {
public:
    // The module's own path, of any length. Files are opened with 8-bit names, so a path
    // that the code page cannot spell, or that is too long for such names, is given in its
    // short form where the volume has one.
    std::string ModulePath() override {
        const std::wstring path = WideModulePath();
        if (path.empty())
            return std::string();
        std::string narrow;
        if (Narrow(path, &narrow) && narrow.size() < MAX_PATH)
            return narrow;
        std::wstring shortPath(path.size() + 1, L'\0');
        const DWORD n =
            GetShortPathNameW(path.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
        std::string shortNarrow;
        if (n > 0 && n < shortPath.size()) {
            shortPath.resize(n);
            if (Narrow(shortPath, &shortNarrow))
                return shortNarrow;
        }
        return narrow;
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

    int64_t Now() override { return SecondsSince1970(); }

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

    // ACLineStatus 0: offline; BatteryLifePercent 255 and BatteryFlag 128 (no system
    // battery) leave the charge unknown.
    PowerSource Power() override {
        PowerSource power;
        SYSTEM_POWER_STATUS status = {};
        if (!GetSystemPowerStatus(&status))
            return power;
        const bool noBattery = status.BatteryFlag != 255 && (status.BatteryFlag & 128) != 0;
        power.onBattery = status.ACLineStatus == 0 && !noBattery;
        if (status.BatteryLifePercent <= 100 && !noBattery)
            power.batteryPercent = status.BatteryLifePercent;
        return power;
    }

    std::string DrivePrivilegeAdvice() override { return "Run the updater as an administrator."; }

    bool StdinIsTerminal() override { return _isatty(0) != 0; }
    bool StdoutIsTerminal() override { return _isatty(1) != 0; }
};

}  // namespace

std::unique_ptr<ISystemServices> CreatePlatformServices(int, char**) {
    return std::make_unique<Win32Services>();
}
