#include "support/fake_services.h"

namespace testsupport {

bool FakeServices::ChangeDirectory(const std::string& dir) {
    directories.push_back(dir);
    return changeDirectoryResult;
}

void FakeServices::SleepMs(unsigned ms) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_sleeps.push_back(ms);
}

std::vector<unsigned> FakeServices::Sleeps() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_sleeps;
}

std::thread FakeServices::StartThread(std::function<void()> body) {
    ++threadsStarted;
    return std::thread(std::move(body));
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
