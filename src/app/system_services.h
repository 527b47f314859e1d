// The running system's services (base/system_services.h) and the command-line helpers of
// the start-up. Implementations: system_services_win32.cpp, system_services_linux.cpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/system_services.h"

// The running system's services. argv is used where the system has no raw command line.
std::unique_ptr<ISystemServices> CreatePlatformServices(int argc, char** argv);

// Linux build: the advice of DriveAccessHint for the optical drive devices (sr0, sr1, ...)
// in devDir ("/dev"), naming the group that owns them.
std::string DriveAccessHintFor(const std::string& devDir, int deniedDevices);
// Linux build: whether the CapEff line of a /proc/PID/status text has the bit of capability
// (CAP_SYS_RAWIO is 17); false without such a line.
bool HasEffectiveCapability(const std::string& statusText, int capability);
// Linux build: the advice of DrivePrivilegeAdvice for the program file program.
std::string DrivePrivilegeAdviceFor(const std::string& program);

// Linux build: the power source as the folder dir tells it, laid out like
// /sys/class/power_supply (one folder per supply with its type, online and capacity files):
// on battery when no Mains or USB supply is online and the machine has a battery; the charge
// is the mean capacity of its batteries (those of devices, scope "Device", do not count).
PowerSource PowerSourceOf(const std::string& dir);

// Path of the running executable from a Windows command line: the first token (quoted:
// up to the closing quote; otherwise up to the first blank), with ".exe" appended
// unless its last four characters, lower-cased, are ".exe".
std::string ExecutablePathFromCommandLine(const std::string& commandLine);

// Joins items into one Windows command line, quoting items that contain blanks.
std::string JoinCommandLine(const std::vector<std::string>& items);
