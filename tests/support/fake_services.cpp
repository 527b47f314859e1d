#include "support/fake_services.h"

namespace testsupport {

bool FakeServices::ChangeDirectory(const std::string& dir) {
    directories.push_back(dir);
    return changeDirectoryResult;
}

void FakeServices::SleepMs(unsigned ms) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_sleeps.push_back(ms);
    }
    if (onSleep)
        onSleep(ms);
}

std::vector<unsigned> FakeServices::Sleeps() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_sleeps;
}

void FakeServices::ReportLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_reported.push_back(line);
}

std::vector<std::string> FakeServices::Reported() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_reported;
}

std::vector<std::string> FakeServices::Events() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_events;
}

void FakeServices::Record(const std::string& event) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_events.push_back(event);
    }
    if (onEvent)
        onEvent(event);
}

std::thread FakeServices::StartThread(std::function<void()> body) {
    ++threadsStarted;
    Record("thread");
    return std::thread([this, body = std::move(body)] {
        body();
        Record("thread end");
    });
}

ShutdownPrivilege FakeServices::EnableShutdownPrivilege() {
    ++privilegeRequests;
    return privilege;
}

bool FakeServices::RequestRestart() {
    ++restartRequests;
    return restartAccepted;
}

}  // namespace testsupport
