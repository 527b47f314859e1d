// Simulated drives: a drive file (format in docs/simulator.md) describes optical drives
// that answer the program's SCSI commands like real ones, keep their new firmware revision
// and setting block across runs, and journal every command they receive.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drive/drive_control.h"

// Names a drive file: every CDriveControl of the process then talks to simulated drives.
inline constexpr const char* kSimulateEnvironment = "VARNEL_SIMULATE";

// What a simulated drive looks like now (for reports and tests).
struct SimulatedDriveState {
    std::string id;        // "D" or "0.1.0"
    std::string revision;  // INQUIRY bytes 32-35 as reported
    std::string minor;     // INQUIRY bytes 38-39 as reported
    uint8_t customer = 0;
    bool medium = false;
    uint8_t setting[8] = {};
    uint32_t commands = 0;         // commands received since the file was read
    uint32_t imagesReceived = 0;   // complete program images waiting for the diagnostic
    uint64_t lastInstallHash = 0;  // FNV-1a 64 of the last installed MAIN image, 0 if none
};

class CDriveSimulator;

// The simulated drives of a drive file. Within one process every user of the same file shares
// one set of drives; the first use reads the file and its state file.
// Returns null and sets *error (file name, line and reason) when the file cannot be used.
std::shared_ptr<CDriveSimulator> OpenSimulator(const std::string& path, std::string* error);

// Forgets every drive file read so far; the next OpenSimulator reads file and state again, as a
// new process would.
void ResetSimulators();

// A transport over simulated drives. A file that cannot be read gives a transport without
// drives whose Problem() tells why.
std::unique_ptr<IScsiTransport> CreateSimulatorTransport(const std::string& path);
std::unique_ptr<IScsiTransport> CreateSimulatorTransport(std::shared_ptr<CDriveSimulator> sim);

std::vector<SimulatedDriveState> SimulatorSnapshot(const CDriveSimulator& sim);

// FNV-1a 64 over data, continuing from hash (start with kFnvOffset).
inline constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
uint64_t Fnv1a64(const uint8_t* data, size_t length, uint64_t hash = kFnvOffset);
