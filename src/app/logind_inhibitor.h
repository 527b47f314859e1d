// A logind inhibitor lock (Linux build): org.freedesktop.login1.Manager.Inhibit on the
// system bus, spoken through libdbus loaded at run time, so that the program needs no
// D-Bus library to start. Implementation: logind_inhibitor_linux.cpp.
#pragma once

#include <string>

// The lock's file descriptor; the lock is held until it is closed. -1 when the system bus,
// logind or libdbus cannot be reached or the lock is refused. what is a colon-separated
// list ("shutdown:sleep"), mode "block" or "delay". Waits at most timeoutMs for logind.
int TakeInhibitorLock(const std::string& what, const std::string& who, const std::string& why,
                      const std::string& mode, int timeoutMs);
