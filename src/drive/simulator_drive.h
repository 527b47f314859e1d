// Inside the simulated drives: what a drive file describes, what a drive keeps while it runs
// and the simulator object itself, shared by the parts of the simulator: simulator.cpp (files,
// addresses, transport), simulator_file.cpp (drive file syntax), simulator_faults.cpp (fault
// rules), simulator_commands.cpp (how a drive answers) and simulator_state.cpp (state file
// and journal).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "drive/simulator.h"

namespace simulator {

// Header bytes kept of every received image: the 1024-byte header and the MAIN info block.
inline constexpr uint32_t kKeptHeader = 1280;
inline constexpr uint32_t kImageHeader = 1024;
inline constexpr int kAnyOpcode = -1;
// Drive and state files are read up to this size.
inline constexpr size_t kDriveFileLimit = 1048576;

enum class DriveType { Cdrom, Removable, Fixed, Other };
enum class OpenMode { Ok, Fail, Denied };

// How a faulted command ends when the drive does not answer it.
enum class Refusal { None, Transport, Denied, Gone };

struct Fault {
    int opcode = kAnyOpcode;
    uint32_t nth = 1;
    bool andLater = false;
    Refusal refusal = Refusal::None;
    uint8_t status = 0;  // a non-good status without sense data; 0: CHECK CONDITION with sense
    uint8_t key = 0, asc = 0, ascq = 0;
};

// One program image being received or received completely.
struct Image {
    uint32_t received = 0;
    uint8_t header[kKeptHeader] = {};
    uint64_t hash = kFnvOffset;
    uint16_t wordSum = 0;
    bool oddByte = false;  // an odd byte is waiting for its low half
    uint8_t pendingHigh = 0;

    void Add(const uint8_t* data, uint32_t length) {
        if (received < kKeptHeader) {
            const uint32_t n = std::min(length, kKeptHeader - received);
            std::memcpy(header + received, data, n);
        }
        hash = Fnv1a64(data, length, hash);
        for (uint32_t i = 0; i < length; ++i) {
            if (oddByte) {
                wordSum = static_cast<uint16_t>(wordSum + (pendingHigh << 8 | data[i]));
                oddByte = false;
            } else {
                pendingHigh = data[i];
                oddByte = true;
            }
        }
        received += length;
    }
    uint16_t FinalSum() const {
        return oddByte ? static_cast<uint16_t>(wordSum + (pendingHigh << 8)) : wordSum;
    }
    uint32_t DeclaredLength() const {
        if (received < 72)
            return 0;
        return ReadBE32(header + 68) + kImageHeader;
    }
    bool IsMain() const { return received >= 28 && std::memcmp(header + 24, "MAIN", 4) == 0; }
};

struct SimDrive {
    // Configuration.
    std::string id;
    char letter = 0;  // 0 for an ASPI-style drive
    uint8_t host = 0, target = 0, lun = 0;
    std::string device;       // device name of a drive reached like a Linux drive ("sr1")
    std::string fullAddress;  // its host:channel:target:lun
    DriveType type = DriveType::Cdrom;
    OpenMode open = OpenMode::Ok;
    uint8_t vendor[8], product[16], revision[4];
    bool removable = true;
    uint8_t customer = 0;
    uint8_t minor[2] = {' ', ' '};
    bool medium = false;
    uint8_t setting[8] = {0x00, 0x40, 0, 0, 0, 0, 0, 0};
    uint32_t delayMs = 0;
    uint32_t inquiryFailures = 0;
    uint32_t turFailures = 0;
    uint32_t stopAfter = 0;
    bool verify = true;
    bool uaAfterMicrocode = false;
    bool activatesAtRestart = false;  // installed microcode runs only after a restart
    uint32_t replacedAfter = 0;       // INQUIRY commands answered before another drive took over
    bool replaced = false;
    uint8_t otherVendor[8], otherProduct[16];
    std::vector<Fault> faults;

    // Run state, guarded by mutex.
    std::mutex mutex;
    uint32_t commands = 0;
    std::map<int, uint32_t> perOpcode;
    bool receiving = false;
    Image current;
    std::vector<Image> complete;
    uint64_t lastInstallHash = 0;
    bool unitAttention = false;  // 3F/16 due for the next command other than INQUIRY
    bool gone = false;           // removed: no command reaches it, it cannot be opened

    SimDrive() {
        std::memset(vendor, ' ', sizeof vendor);
        std::memset(product, ' ', sizeof product);
        std::memset(otherVendor, ' ', sizeof otherVendor);
        std::memset(otherProduct, ' ', sizeof otherProduct);
        std::memset(revision, ' ', sizeof revision);
    }
};

struct Outcome {
    bool delivered = true;
    Refusal refusal = Refusal::None;  // why a command was not delivered
    bool good = true;
    uint8_t status = 0;  // not good: this status without sense data; 0: CHECK CONDITION
    uint8_t key = 0, asc = 0, ascq = 0;
    bool stateChanged = false;
};

// A CHECK CONDITION with this sense.
Outcome Check(uint8_t key, uint8_t asc, uint8_t ascq);

// Drive file and state file syntax (simulator_file.cpp).

// Blanks around keys, values and lines of the drive and state files.
inline constexpr std::string_view kLineBlanks = " \t\r";

struct Token {
    std::string text;
    bool quoted = false;
};

// Splits a value into words and quoted strings; false with *why set on a malformed string.
bool Tokenize(const std::string& value, std::vector<Token>* out, std::string* why);
bool ParseNumber(const std::string& s, uint32_t max, uint32_t* out, int base = 0);
// Two hexadecimal digits, optionally with a 0x prefix.
bool ParseHexByte(const std::string& s, uint8_t* out);
bool ParseBool(const std::string& s, bool* out);
// A fixed-width INQUIRY field from one quoted token; shorter values are padded with blanks.
bool ParseField(const std::vector<Token>& tokens, uint8_t* field, size_t width, std::string* why);
bool ParseBytes(const std::vector<Token>& tokens, uint8_t* out, size_t count, std::string* why);
// Removes a comment: '#' outside quotes.
std::string StripComment(const std::string& line);
// The lines of a text file, without their line ends.
std::vector<std::string> SplitLines(const std::string& text);

// Fault rules (simulator_faults.cpp).

// fault = KIND N[+] check KEY ASC ASCQ | KIND N[+] status XX | KIND N[+] transport|denied|gone
bool ParseFault(const std::vector<Token>& t, Fault* f, std::string* why);
// What meets the command before the drive looks at it (its count-th command, the nthOfKind-th
// with its operation code): a removal, the stop after stop_after commands, a fault, the unit
// attention after new microcode. False when nothing does and the drive answers it.
bool Intercept(SimDrive& d, uint8_t opcode, uint32_t count, uint32_t nthOfKind, Outcome* o);

// The journal line of a command and its outcome (simulator_state.cpp).
std::string JournalLine(const std::string& id, const ScsiCommand& cmd, const Outcome& o);

}  // namespace simulator

class CDriveSimulator {
public:
    CDriveSimulator() = default;
    ~CDriveSimulator();
    CDriveSimulator(const CDriveSimulator&) = delete;
    CDriveSimulator& operator=(const CDriveSimulator&) = delete;

    bool Load(const std::string& path, std::string* error);

    DriveTransport Kind() const { return m_aspi || m_named ? TransportAspi : TransportPassThrough; }
    // The transport the drives are reached like.
    std::string Name() const { return m_named ? "sg_io" : m_aspi ? "aspi" : "pass-through"; }
    bool NeedsPrivilege() const { return m_needsPrivilege; }
    std::vector<DriveAddress> Candidates(bool cdromOnly, int* denied) const;
    // Index of the drive at addr, -1 when none; false when the device cannot be opened
    // (*gone: because the drive was removed).
    bool Open(const DriveAddress& addr, int* drive, bool* gone) const;
    TransportResult Execute(int drive, const ScsiCommand& cmd, uint8_t* sense);
    std::vector<SimulatedDriveState> Snapshot() const;

private:
    bool ParseDriveFile(const std::string& text, std::string* error);
    bool ApplyDriveKey(simulator::SimDrive& d, const std::string& key,
                       const std::vector<simulator::Token>& t, std::string* why);
    bool LoadState(std::string* error);
    void SaveState();
    simulator::Outcome Process(simulator::SimDrive& d, const ScsiCommand& cmd);
    simulator::Outcome WriteBuffer(simulator::SimDrive& d, const ScsiCommand& cmd);
    simulator::Outcome Install(simulator::SimDrive& d);
    void Journal(const std::string& line);

    std::string m_path;
    std::string m_journalPath;
    std::string m_statePath;
    bool m_aspi = false;
    bool m_named = false;  // drives are known by device names, like on Linux
    bool m_needsPrivilege = false;
    uint32_t m_adapters = 0;
    std::vector<std::unique_ptr<simulator::SimDrive>> m_drives;

    std::mutex m_journalMutex;
    std::FILE* m_journal = nullptr;
    std::mutex m_stateMutex;
};
