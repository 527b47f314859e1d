// System services used by the application and the updater dialog, behind an interface
// so that tests can replace them (a fake clock and sleep make the long waits instant).
// Implementations: app/system_services_win32.cpp, app/system_services_linux.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Outcome of enabling the shutdown privilege before a restart.
enum class ShutdownPrivilege {
    NoToken,     // the process token could not be opened
    Enabled,     // the privilege is enabled (or none is needed)
    NotEnabled,  // the privilege could not be enabled
};

// Where the machine's power comes from.
struct PowerSource {
    bool onBattery = false;   // no external power: a battery feeds the machine
    int batteryPercent = -1;  // charge of the machine's batteries, 0 to 100; -1 unknown
};

class ISystemServices {
public:
    virtual ~ISystemServices() = default;

    // Full path of the program's own file, the one its package is read from (empty when the
    // system cannot tell).
    virtual std::string ModulePath() = 0;
    // The command line as the system gave it (Windows form, program name first).
    virtual std::string RawCommandLine() = 0;
    // The command-line items after the program name.
    virtual std::vector<std::string> Arguments() = 0;
    // The name the program was started by (Windows: from the command line, relative when
    // started so; Linux: argv[0], a link's own name when started through a link); only used
    // as a name.
    virtual std::string ExecutablePath() = 0;
    virtual bool ChangeDirectory(const std::string& dir) = 0;
    // Folder of the unattended result log (Windows: the Windows directory).
    virtual std::string WindowsFolder() = 0;

    // Seconds since 1970.
    virtual int64_t Now() = 0;
    // Blocks the calling thread.
    virtual void SleepMs(unsigned ms) = 0;
    // Starts a worker thread at normal priority with the default stack.
    virtual std::thread StartThread(std::function<void()> body) = 0;

    // Restart: enable the privilege it needs, then ask the system to restart.
    virtual ShutdownPrivilege EnableShutdownPrivilege() = 0;
    // True when the restart request was accepted.
    virtual bool RequestRestart() = 0;

    // While firmware is being written: keep the system from sleeping (on) and let it sleep
    // again (off); hold off shutdown, restart and sleep, giving reason where the system
    // shows one, and release them again. Outside a run nothing is held.
    virtual void KeepSystemAwake(bool on) = 0;
    virtual void BlockShutdown(const std::string& reason) = 0;
    virtual void UnblockShutdown() = 0;

    // What to do about drive devices that could not be opened for lack of permission
    // (deniedDevices of them): a text for the updater dialog's message area. Empty where
    // the system has no such advice (Windows).
    virtual std::string DriveAccessHint(int /*deniedDevices*/) { return std::string(); }

    // Whether the process holds the privilege that the system asks of a process that sends
    // drives every command, firmware downloads among them (Linux: the effective capability
    // CAP_SYS_RAWIO). True where the system has no cheap test (Windows).
    virtual bool HasDrivePrivilege() { return true; }
    // What to do when the system refuses drive commands for lack of privilege: a text for
    // the message area; empty where the system has no advice.
    virtual std::string DrivePrivilegeAdvice() { return std::string(); }

    // The machine's power source now. Where the system cannot tell: external power.
    virtual PowerSource Power() { return PowerSource(); }

    // One line for whatever started the program (Linux: on the standard error): the
    // outcome of a silent run. Nothing where the system has no such channel (Windows).
    virtual void ReportLine(const std::string& /*line*/) {}

    virtual bool StdinIsTerminal() = 0;
    virtual bool StdoutIsTerminal() = 0;
};

// Holds the system awake and shutdown off for its lifetime: one run that writes firmware.
class CRunProtection {
public:
    CRunProtection(ISystemServices& services, const std::string& reason) : m_services(services) {
        m_services.KeepSystemAwake(true);
        m_services.BlockShutdown(reason);
    }
    ~CRunProtection() {
        m_services.UnblockShutdown();
        m_services.KeepSystemAwake(false);
    }
    CRunProtection(const CRunProtection&) = delete;
    CRunProtection& operator=(const CRunProtection&) = delete;

private:
    ISystemServices& m_services;
};
