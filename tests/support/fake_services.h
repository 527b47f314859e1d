// A fake ISystemServices for tests: a manual clock, sleeps that only record, scripted
// restart outcomes and fixed paths.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/system_services.h"

namespace testsupport {

class FakeServices : public ISystemServices {
public:
    std::string ModulePath() override { return modulePath; }
    std::string RawCommandLine() override { return commandLine; }
    std::vector<std::string> Arguments() override { return arguments; }
    std::string ExecutablePath() override { return executablePath; }
    bool ChangeDirectory(const std::string& dir) override;
    std::string WindowsFolder() override { return windowsFolder; }
    int64_t Now() override { return now; }
    void SleepMs(unsigned ms) override;
    std::thread StartThread(std::function<void()> body) override;
    ShutdownPrivilege EnableShutdownPrivilege() override;
    bool RequestRestart() override;
    std::string DriveAccessHint(int deniedDevices) override {
        deniedReported = deniedDevices;
        return driveAccessHint;
    }
    bool HasDrivePrivilege() override { return drivePrivilege; }
    std::string DrivePrivilegeAdvice() override { return privilegeAdvice; }
    void KeepSystemAwake(bool on) override { Record(on ? "awake" : "awake off"); }
    void BlockShutdown(const std::string& reason) override { Record("block " + reason); }
    void UnblockShutdown() override { Record("unblock"); }
    PowerSource Power() override { return power; }
    void ReportLine(const std::string& line) override;
    bool StdinIsTerminal() override { return false; }
    bool StdoutIsTerminal() override { return false; }

    std::vector<unsigned> Sleeps();
    // The lines of ReportLine, in order.
    std::vector<std::string> Reported();
    // Power and shutdown calls, worker starts ("thread") and worker ends ("thread end"),
    // in the order they happened.
    std::vector<std::string> Events();
    void Record(const std::string& event);
    // Called with each event as it is recorded (on the thread that caused it).
    std::function<void(const std::string&)> onEvent;
    // Called with each sleep after it is recorded.
    std::function<void(unsigned)> onSleep;

    std::string modulePath;
    std::string commandLine;
    std::vector<std::string> arguments;
    std::string executablePath;
    std::string windowsFolder;
    std::vector<std::string> directories;  // every ChangeDirectory argument
    bool changeDirectoryResult = true;
    int64_t now = 1000000000;
    std::atomic<int> threadsStarted{0};
    ShutdownPrivilege privilege = ShutdownPrivilege::Enabled;
    bool restartAccepted = true;
    int privilegeRequests = 0;
    int restartRequests = 0;
    std::string driveAccessHint;
    int deniedReported = 0;  // argument of the last DriveAccessHint call
    bool drivePrivilege = true;
    std::string privilegeAdvice;
    PowerSource power;  // external power unless a test says otherwise

private:
    std::mutex m_lock;
    std::vector<unsigned> m_sleeps;
    std::vector<std::string> m_events;
    std::vector<std::string> m_reported;
};

}  // namespace testsupport
