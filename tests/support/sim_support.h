// Simulated drives for tests: a drive file in a temp folder that every CDriveControl of the
// test uses, the journal it writes, and small valid program images.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drive/simulator.h"
#include "support/test_support.h"

namespace testsupport {

// One journal line: "D | 3B 02 ... | out 32768 | good | fnv1a64 ...".
struct JournalEntry {
    std::string drive;
    std::string cdb;  // hex bytes separated by blanks
    std::string direction;
    uint32_t length = 0;
    std::string result;  // "good", "check K/AS/AQ", "transport"
    std::string hash;    // WRITE BUFFER data, else empty
};

// Writes drive-file text (journal = journal.txt is prepended) into a fresh folder and makes
// every CDriveControl constructed while it lives use those drives. The destructor restores
// the default transport choice.
class SimulatedDrives {
public:
    explicit SimulatedDrives(const std::string& driveText);
    ~SimulatedDrives();
    SimulatedDrives(const SimulatedDrives&) = delete;
    SimulatedDrives& operator=(const SimulatedDrives&) = delete;

    const std::string& DriveFile() const { return m_file; }
    std::string JournalPath() const { return m_dir.File("journal.txt"); }
    std::vector<JournalEntry> Journal() const;
    // Only the CDBs, optionally of one drive ("" for all).
    std::vector<std::string> Cdbs(const std::string& drive = "") const;
    void ClearJournal() const;
    std::vector<SimulatedDriveState> State() const;
    // Forgets the drives in memory: the next use reads the file and its state, like a new run.
    void Restart();

private:
    TempDir m_dir;
    std::string m_file;
};

// A program image of total bytes (at least 1024) whose word sum is 0xFFFF. MAIN images carry
// revision at 40 and, when total >= 1280, the minor revision in the info block at 1248.
std::vector<uint8_t> MakeImage(bool main, uint32_t total, const std::string& revision = "1.10",
                               const std::string& minor = "", uint8_t seed = 1);

std::string HexHash(const uint8_t* data, size_t length);

}  // namespace testsupport
