#include "drive/simulator.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "base/bytes.h"
#include "base/file_io.h"
#include "base/path_rules.h"
#include "base/text.h"
#include "drive/scsi_commands.h"

namespace {

using namespace scsi;

// The diagnostic that installs the images received: UnitOffL and a parameter list of 6 bytes.
constexpr DiagnosticCdb kInstallDiagnostic = {kDiagnosticUnitOffline, 0, 6, 0};

// Header bytes kept of every received image: the 1024-byte header and the MAIN info block.
constexpr uint32_t kKeptHeader = 1280;
constexpr uint32_t kImageHeader = 1024;
constexpr int kAnyOpcode = -1;

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
    uint32_t replacedAfter = 0;  // INQUIRY commands answered before another drive took over
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

Outcome Check(uint8_t key, uint8_t asc, uint8_t ascq) {
    Outcome o;
    o.good = false;
    o.key = key;
    o.asc = asc;
    o.ascq = ascq;
    return o;
}

std::string Hex16(uint64_t v) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

// Quoted form of a fixed field for the state file: printable bytes as they are, others as \xHH.
std::string Quote(const uint8_t* field, size_t width) {
    std::string s = "\"";
    for (size_t i = 0; i < width; ++i) {
        const uint8_t c = field[i];
        if (c == '"' || c == '\\') {
            s += '\\';
            s += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            s += "\\x" + HexByte(c);
        } else {
            s += static_cast<char>(c);
        }
    }
    return s + "\"";
}

// ---------------------------------------------------------------------------------------------
// Drive file parsing.

struct Token {
    std::string text;
    bool quoted = false;
};

// Splits a value into words and quoted strings; false with *why set on a malformed string.
bool Tokenize(const std::string& value, std::vector<Token>* out, std::string* why) {
    size_t i = 0;
    while (i < value.size()) {
        const char c = value[i];
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        Token t;
        if (c == '"') {
            t.quoted = true;
            ++i;
            bool closed = false;
            while (i < value.size()) {
                const char d = value[i++];
                if (d == '"') {
                    closed = true;
                    break;
                }
                if (d != '\\') {
                    t.text += d;
                    continue;
                }
                if (i >= value.size())
                    break;
                const char e = value[i++];
                if (e == '\\' || e == '"') {
                    t.text += e;
                } else if (e == '0') {
                    t.text += '\0';
                } else if (e == 'x' && i + 2 <= value.size() &&
                           std::isxdigit(static_cast<unsigned char>(value[i])) &&
                           std::isxdigit(static_cast<unsigned char>(value[i + 1]))) {
                    t.text += static_cast<char>(std::stoi(value.substr(i, 2), nullptr, 16));
                    i += 2;
                } else {
                    *why = "unknown escape in quoted string";
                    return false;
                }
            }
            if (!closed) {
                *why = "unterminated quoted string";
                return false;
            }
        } else {
            while (i < value.size() && value[i] != ' ' && value[i] != '\t')
                t.text += value[i++];
        }
        out->push_back(std::move(t));
    }
    return true;
}

bool ParseNumber(const std::string& s, uint32_t max, uint32_t* out, int base = 0) {
    if (s.empty())
        return false;
    try {
        size_t used = 0;
        const unsigned long long v = std::stoull(s, &used, base);
        if (used != s.size() || v > max || s[0] == '-' || s[0] == '+')
            return false;
        *out = static_cast<uint32_t>(v);
        return true;
    } catch (...) {
        return false;
    }
}

// Two hexadecimal digits, optionally with a 0x prefix.
bool ParseHexByte(const std::string& s, uint8_t* out) {
    uint32_t v = 0;
    if (s.size() > 4 || !ParseNumber(s, 0xFF, &v, 16))
        return false;
    *out = static_cast<uint8_t>(v);
    return true;
}

bool ParseBool(const std::string& s, bool* out) {
    if (s == "yes" || s == "true" || s == "1") {
        *out = true;
        return true;
    }
    if (s == "no" || s == "false" || s == "0") {
        *out = false;
        return true;
    }
    return false;
}

bool ParseOpcode(const std::string& s, int* out) {
    static const std::map<std::string, int> names = {
        {"ANY", kAnyOpcode},
        {"TEST_UNIT_READY", kOpTestUnitReady},
        {"INQUIRY", kOpInquiry},
        {"START_STOP_UNIT", kOpStartStopUnit},
        {"SEND_DIAGNOSTIC", kOpSendDiagnostic},
        {"WRITE_BUFFER", kOpWriteBuffer},
        {"READ_BUFFER", kOpReadBuffer},
    };
    const auto it = names.find(s);
    if (it != names.end()) {
        *out = it->second;
        return true;
    }
    uint8_t op = 0;
    if (!ParseHexByte(s, &op))
        return false;
    *out = op;
    return true;
}

// A fixed-width INQUIRY field from one quoted token; shorter values are padded with blanks.
bool ParseField(const std::vector<Token>& tokens, uint8_t* field, size_t width, std::string* why) {
    if (tokens.size() != 1 || !tokens[0].quoted) {
        *why = "expected one quoted string";
        return false;
    }
    if (tokens[0].text.size() > width) {
        *why = "longer than " + std::to_string(width) + " bytes";
        return false;
    }
    std::memset(field, ' ', width);
    std::memcpy(field, tokens[0].text.data(), tokens[0].text.size());
    return true;
}

bool ParseBytes(const std::vector<Token>& tokens, uint8_t* out, size_t count, std::string* why) {
    if (tokens.size() != count) {
        *why = "expected " + std::to_string(count) + " hexadecimal bytes";
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        if (tokens[i].quoted || !ParseHexByte(tokens[i].text, &out[i])) {
            *why = "'" + tokens[i].text + "' is not a hexadecimal byte";
            return false;
        }
    }
    return true;
}

bool ParseFault(const std::vector<Token>& t, Fault* f, std::string* why) {
    // fault = KIND N[+] check KEY ASC ASCQ | KIND N[+] status XX
    //       | KIND N[+] transport | KIND N[+] denied | KIND N[+] gone
    static const std::map<std::string, Refusal> refusals = {
        {"transport", Refusal::Transport}, {"denied", Refusal::Denied}, {"gone", Refusal::Gone}};
    const bool checkForm = t.size() == 6 && t[2].text == "check";
    const bool statusForm = t.size() == 4 && t[2].text == "status";
    const auto refusal = t.size() == 3 ? refusals.find(t[2].text) : refusals.end();
    const bool refusalForm = refusal != refusals.end();
    if (!checkForm && !statusForm && !refusalForm) {
        *why =
            "expected 'KIND N check KEY ASC ASCQ', 'KIND N status XX' or 'KIND N "
            "transport|denied|gone'";
        return false;
    }
    if (!ParseOpcode(t[0].text, &f->opcode)) {
        *why = "unknown command kind '" + t[0].text + "'";
        return false;
    }
    std::string n = t[1].text;
    if (!n.empty() && n.back() == '+') {
        f->andLater = true;
        n.pop_back();
    }
    if (!ParseNumber(n, 0xFFFFFFFF, &f->nth, 10) || f->nth == 0) {
        *why = "count '" + t[1].text + "' must be a number from 1";
        return false;
    }
    f->refusal = refusalForm ? refusal->second : Refusal::None;
    if (statusForm) {
        if (t[3].quoted || !ParseHexByte(t[3].text, &f->status) || f->status == 0) {
            *why = "status must be a non-zero hexadecimal byte";
            return false;
        }
    }
    if (checkForm) {
        uint8_t b[3];
        if (!ParseBytes({t[3], t[4], t[5]}, b, 3, why))
            return false;
        if (b[0] > 0x0F) {
            *why = "sense key must be 0 to F";
            return false;
        }
        f->key = b[0];
        f->asc = b[1];
        f->ascq = b[2];
    }
    return true;
}

// Blanks around keys, values and lines of the drive and state files.
constexpr std::string_view kLineBlanks = " \t\r";

// Removes a comment: '#' outside quotes.
std::string StripComment(const std::string& line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && quoted) {
            ++i;
        } else if (line[i] == '"') {
            quoted = !quoted;
        } else if (line[i] == '#' && !quoted) {
            return line.substr(0, i);
        }
    }
    return line;
}

bool IsAbsolute(const std::string& path) {
#ifdef _WIN32
    return (path.size() >= 2 && path[1] == ':') ||
           (!path.empty() && (path[0] == '\\' || path[0] == '/'));
#else
    return !path.empty() && path[0] == '/';
#endif
}

// The folder of a path; the Windows build also accepts '/' as a separator.
std::string FolderOf(const std::string& path) {
#ifdef _WIN32
    const auto pos = path.find_last_of("\\/");
#else
    const auto pos = path.rfind('/');
#endif
    return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

std::string Resolve(const std::string& base, const std::string& name) {
    if (IsAbsolute(name) || base.empty())
        return name;
    return base + kPathSeparator + name;
}

// The lines of a text file, without their line ends.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

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
    bool ApplyDriveKey(SimDrive& d, const std::string& key, const std::vector<Token>& t,
                       std::string* why);
    bool LoadState(std::string* error);
    void SaveState();
    Outcome Process(SimDrive& d, const ScsiCommand& cmd);
    Outcome WriteBuffer(SimDrive& d, const ScsiCommand& cmd);
    Outcome Install(SimDrive& d);
    void Journal(const std::string& line);

    std::string m_path;
    std::string m_journalPath;
    std::string m_statePath;
    bool m_aspi = false;
    bool m_named = false;  // drives are known by device names, like on Linux
    bool m_needsPrivilege = false;
    uint32_t m_adapters = 0;
    std::vector<std::unique_ptr<SimDrive>> m_drives;

    std::mutex m_journalMutex;
    std::FILE* m_journal = nullptr;
    std::mutex m_stateMutex;
};

CDriveSimulator::~CDriveSimulator() {
    if (m_journal != nullptr)
        std::fclose(m_journal);
}

// Drive and state files are read up to this size.
constexpr size_t kDriveFileLimit = 1048576;

bool CDriveSimulator::Load(const std::string& path, std::string* error) {
    m_path = path;
    std::string text;
    switch (ReadWholeFile(path, &text, kDriveFileLimit)) {
        case ReadStatus::Ok:
            break;
        case ReadStatus::CannotOpen:
            *error = path + ": cannot open the drive file";
            return false;
        case ReadStatus::TooLarge:
            *error = path + ": the drive file is larger than " + std::to_string(kDriveFileLimit) +
                     " bytes";
            return false;
    }
    if (!ParseDriveFile(text, error))
        return false;
    if (m_statePath.empty())
        m_statePath = path + ".state";
    if (!LoadState(error))
        return false;
    if (!m_journalPath.empty()) {
        m_journal = std::fopen(m_journalPath.c_str(), "ab");
        if (m_journal == nullptr) {
            *error = m_journalPath + ": cannot open the journal";
            return false;
        }
    }
    return true;
}

bool CDriveSimulator::ParseDriveFile(const std::string& fileText, std::string* error) {
    const std::string base = FolderOf(m_path);
    int number = 0;
    SimDrive* drive = nullptr;
    bool anyLetter = false, anyAddress = false, anyDevice = false, adaptersGiven = false;
    auto fail = [&](const std::string& why) {
        *error = m_path + ":" + std::to_string(number) + ": " + why;
        return false;
    };
    for (const std::string& line : SplitLines(fileText)) {
        ++number;
        const std::string text = Trim(StripComment(line), kLineBlanks);
        if (text.empty())
            continue;
        if (text == "[drive]") {
            if (m_drives.size() >= 64)
                return fail("more than 64 drives");
            m_drives.push_back(std::make_unique<SimDrive>());
            drive = m_drives.back().get();
            continue;
        }
        if (text.front() == '[')
            return fail("unknown section " + text);
        const size_t eq = text.find('=');
        if (eq == std::string::npos)
            return fail("expected 'key = value'");
        const std::string key = Trim(text.substr(0, eq), kLineBlanks);
        std::vector<Token> tokens;
        std::string why;
        if (!Tokenize(text.substr(eq + 1), &tokens, &why))
            return fail(why);
        if (tokens.empty())
            return fail("no value for '" + key + "'");
        if (drive == nullptr) {
            if (key == "journal" || key == "state") {
                if (tokens.size() != 1)
                    return fail("one path expected");
                (key == "journal" ? m_journalPath : m_statePath) = Resolve(base, tokens[0].text);
            } else if (key == "needs_privilege") {
                if (tokens.size() != 1 || !ParseBool(tokens[0].text, &m_needsPrivilege))
                    return fail("needs_privilege: yes or no expected");
            } else if (key == "adapters") {
                if (tokens.size() != 1 || !ParseNumber(tokens[0].text, 255, &m_adapters, 10)) {
                    return fail("adapters must be 0 to 255");
                }
                adaptersGiven = true;
            } else {
                return fail("unknown key '" + key + "' before the first [drive]");
            }
            continue;
        }
        if (!ApplyDriveKey(*drive, key, tokens, &why))
            return fail(key + ": " + why);
        if (key == "letter")
            anyLetter = true;
        if (key == "address")
            anyAddress = true;
        if (key == "device")
            anyDevice = true;
    }
    number = 0;
    if (anyDevice) {
        for (size_t i = 0; i < m_drives.size(); ++i) {
            SimDrive& d = *m_drives[i];
            if (d.device.empty() || d.letter != 0)
                return fail("drive " + std::to_string(i + 1) +
                            ": with device names every drive has one, and no letter");
            if (!d.id.empty())
                return fail("drive " + std::to_string(i + 1) +
                            ": the address of a named drive is host:channel:target:lun");
            if (d.fullAddress.empty()) {
                d.fullAddress = "0:0:" + std::to_string(i) + ":0";
                d.target = static_cast<uint8_t>(i);
            }
            d.id = d.device;
        }
        m_named = true;
    } else if (anyLetter && anyAddress) {
        return fail("drives use both letters and addresses");
    } else {
        for (size_t i = 0; i < m_drives.size(); ++i) {
            if (!m_drives[i]->fullAddress.empty())
                return fail("drive " + std::to_string(i + 1) +
                            ": a host:channel:target:lun address needs a device name");
        }
    }
    m_aspi = anyAddress && !anyDevice;
    uint32_t highest = 0;
    for (size_t i = 0; i < m_drives.size(); ++i) {
        SimDrive& d = *m_drives[i];
        if (d.id.empty())
            return fail("drive " + std::to_string(i + 1) + " has no letter or address");
        for (size_t j = 0; j < i; ++j) {
            if (m_drives[j]->id == d.id)
                return fail("two drives at " + d.id);
        }
        highest = std::max<uint32_t>(highest, d.host + 1u);
    }
    if (!adaptersGiven)
        m_adapters = highest;
    return true;
}

bool CDriveSimulator::ApplyDriveKey(SimDrive& d, const std::string& key,
                                    const std::vector<Token>& t, std::string* why) {
    const std::string& v = t[0].text;
    const bool single = t.size() == 1;
    uint32_t n = 0;
    if (key == "letter") {
        if (!single || v.size() != 1 || !std::isalpha(static_cast<unsigned char>(v[0])) ||
            !d.id.empty()) {
            *why = "one letter A to Z per drive";
            return false;
        }
        d.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(v[0])));
        d.id = std::string(1, d.letter);
        return true;
    }
    if (key == "device") {
        const bool named =
            v.size() > 2 && v.size() <= 8 && v.compare(0, 2, "sr") == 0 &&
            std::all_of(v.begin() + 2, v.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!single || !named || !d.device.empty()) {
            *why = "one device name sr0, sr1, ... per drive";
            return false;
        }
        d.device = v;
        return true;
    }
    if (key == "address" && std::count(v.begin(), v.end(), ':') == 3) {
        // host:channel:target:lun, numbered as the Linux kernel does
        unsigned long long part[4] = {};
        char extra = 0;
        if (!single || !d.fullAddress.empty() ||
            std::sscanf(v.c_str(), "%llu:%llu:%llu:%llu%c", &part[0], &part[1], &part[2], &part[3],
                        &extra) != 4 ||
            part[0] > 0xFFFFFFFFull || part[1] > 0xFFFFFFFFull || part[2] > 0xFFFFFFFFull ||
            part[3] > 0xFFFFFFFFull) {
            *why = "host:channel:target:lun expected, one per drive";
            return false;
        }
        d.fullAddress = std::to_string(part[0]) + ":" + std::to_string(part[1]) + ":" +
                        std::to_string(part[2]) + ":" + std::to_string(part[3]);
        d.host = static_cast<uint8_t>(part[0]);
        d.target = static_cast<uint8_t>(part[2]);
        d.lun = static_cast<uint8_t>(part[3]);
        return true;
    }
    if (key == "address") {
        unsigned h = 0, tg = 0, l = 0;
        char extra = 0;
        if (!single || !d.id.empty() ||
            std::sscanf(v.c_str(), "%u.%u.%u%c", &h, &tg, &l, &extra) != 3 || h > 255 || tg > 7 ||
            l > 3) {
            *why = "host.target.lun expected (target 0-7, LUN 0-3), one per drive";
            return false;
        }
        d.host = static_cast<uint8_t>(h);
        d.target = static_cast<uint8_t>(tg);
        d.lun = static_cast<uint8_t>(l);
        d.id = std::to_string(h) + "." + std::to_string(tg) + "." + std::to_string(l);
        return true;
    }
    if (key == "vendor")
        return ParseField(t, d.vendor, 8, why);
    if (key == "product")
        return ParseField(t, d.product, 16, why);
    if (key == "revision")
        return ParseField(t, d.revision, 4, why);
    if (key == "minor")
        return ParseField(t, d.minor, 2, why);
    if (key == "setting")
        return ParseBytes(t, d.setting, 8, why);
    if (key == "customer") {
        if (!single || !ParseHexByte(v, &d.customer)) {
            *why = "one hexadecimal byte expected";
            return false;
        }
        return true;
    }
    static const std::map<std::string, bool SimDrive::*> flags = {
        {"removable", &SimDrive::removable},
        {"medium", &SimDrive::medium},
        {"verify", &SimDrive::verify},
        {"ua_after_microcode", &SimDrive::uaAfterMicrocode},
    };
    if (const auto flag = flags.find(key); flag != flags.end()) {
        if (!single || !ParseBool(v, &(d.*flag->second))) {
            *why = "yes or no expected";
            return false;
        }
        return true;
    }
    if (key == "replaced") {
        // replaced = N "VENDOR" "PRODUCT"
        if (t.size() != 3 || t[0].quoted || !ParseNumber(v, 0xFFFFFFFFu, &d.replacedAfter, 10) ||
            !ParseField({t[1]}, d.otherVendor, 8, why) ||
            !ParseField({t[2]}, d.otherProduct, 16, why)) {
            if (why->empty())
                *why = "expected 'N \"VENDOR\" \"PRODUCT\"'";
            return false;
        }
        d.replaced = true;
        return true;
    }
    if (key == "type") {
        static const std::map<std::string, DriveType> types = {{"cdrom", DriveType::Cdrom},
                                                               {"removable", DriveType::Removable},
                                                               {"fixed", DriveType::Fixed},
                                                               {"other", DriveType::Other}};
        const auto it = types.find(v);
        if (!single || it == types.end()) {
            *why = "cdrom, removable, fixed or other expected";
            return false;
        }
        d.type = it->second;
        return true;
    }
    if (key == "open") {
        if (single && v == "ok") {
            d.open = OpenMode::Ok;
        } else if (single && v == "fail") {
            d.open = OpenMode::Fail;
        } else if (single && v == "denied") {
            d.open = OpenMode::Denied;
        } else {
            *why = "ok, fail or denied expected";
            return false;
        }
        return true;
    }
    static const std::map<std::string, uint32_t SimDrive::*> numbers = {
        {"delay_ms", &SimDrive::delayMs},
        {"inquiry_failures", &SimDrive::inquiryFailures},
        {"tur_failures", &SimDrive::turFailures},
        {"stop_after", &SimDrive::stopAfter},
    };
    if (const auto number = numbers.find(key); number != numbers.end()) {
        if (!single || !ParseNumber(v, key == "delay_ms" ? 600000u : 0xFFFFFFFFu, &n, 10)) {
            *why = "a decimal number expected";
            return false;
        }
        d.*number->second = n;
        return true;
    }
    if (key == "fault") {
        Fault f;
        if (!ParseFault(t, &f, why))
            return false;
        d.faults.push_back(f);
        return true;
    }
    *why = "unknown key";
    return false;
}

bool CDriveSimulator::LoadState(std::string* error) {
    std::string stateText;
    if (ReadWholeFile(m_statePath, &stateText, kDriveFileLimit) != ReadStatus::Ok)
        return true;  // no run has changed the drives yet
    int number = 0;
    for (const std::string& line : SplitLines(stateText)) {
        ++number;
        const std::string text = Trim(StripComment(line), kLineBlanks);
        if (text.empty())
            continue;
        auto fail = [&](const std::string& why) {
            *error = m_statePath + ":" + std::to_string(number) + ": " + why;
            return false;
        };
        std::vector<Token> tokens;
        std::string why;
        if (!Tokenize(text, &tokens, &why))
            return fail(why);
        SimDrive* d = nullptr;
        for (auto& p : m_drives) {
            if (p->id == tokens[0].text)
                d = p.get();
        }
        if (d == nullptr)
            continue;  // a drive no longer in the drive file
        // drive revision "R" minor "M" medium yes|no setting B0 .. B7
        if (tokens.size() != 16 || tokens[1].text != "revision" || tokens[3].text != "minor" ||
            tokens[5].text != "medium" || tokens[7].text != "setting") {
            return fail("expected 'DRIVE revision \"R\" minor \"M\" medium yes|no setting B0..B7'");
        }
        if (!ParseField({tokens[2]}, d->revision, 4, &why) ||
            !ParseField({tokens[4]}, d->minor, 2, &why) || !ParseBool(tokens[6].text, &d->medium) ||
            !ParseBytes(std::vector<Token>(tokens.begin() + 8, tokens.end()), d->setting, 8,
                        &why)) {
            return fail(why.empty() ? "bad value" : why);
        }
    }
    return true;
}

void CDriveSimulator::SaveState() {
    std::lock_guard<std::mutex> stateLock(m_stateMutex);
    std::string out =
        "# Simulated drive state, written after every change. Delete it to start over.\n";
    for (auto& p : m_drives) {
        std::lock_guard<std::mutex> lock(p->mutex);
        out += p->id + " revision " + Quote(p->revision, 4) + " minor " + Quote(p->minor, 2) +
               " medium " + (p->medium ? "yes" : "no") + " setting";
        for (uint8_t b : p->setting)
            out += " " + HexByte(b);
        out += '\n';
    }
    const std::string temp = m_statePath + ".new";
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (file == nullptr)
        return;
    bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    ok = std::fclose(file) == 0 && ok;
    if (ok)
        MoveReplacing(temp, m_statePath);
}

void CDriveSimulator::Journal(const std::string& line) {
    if (m_journalPath.empty())
        return;
    std::lock_guard<std::mutex> lock(m_journalMutex);
    if (m_journal == nullptr)
        return;
    std::fputs(line.c_str(), m_journal);
    std::fputc('\n', m_journal);
    std::fflush(m_journal);
}

std::vector<DriveAddress> CDriveSimulator::Candidates(bool cdromOnly, int* denied) const {
    std::vector<DriveAddress> out;
    *denied = 0;
    if (m_named) {
        // Like the optical drive devices of a Linux system: sr0, sr1, ..., sr10 in number order.
        std::vector<const SimDrive*> sorted;
        for (const auto& p : m_drives)
            sorted.push_back(p.get());
        std::sort(sorted.begin(), sorted.end(), [](const SimDrive* a, const SimDrive* b) {
            return a->device.size() != b->device.size() ? a->device.size() < b->device.size()
                                                        : a->device < b->device;
        });
        for (const SimDrive* d : sorted) {
            if (d->open == OpenMode::Denied)
                ++*denied;
            DriveAddress a;
            a.hostAdapter = d->host;
            a.target = d->target;
            a.lun = d->lun;
            a.device = d->device;
            a.name = d->device;
            a.fullAddress = d->fullAddress;
            out.push_back(a);
        }
        return out;
    }
    if (m_aspi) {
        for (uint32_t h = 0; h < m_adapters; ++h) {
            for (uint8_t t = 0; t < 8; ++t) {
                for (uint8_t l = 0; l < 4; ++l) {
                    DriveAddress a;
                    a.hostAdapter = static_cast<uint8_t>(h);
                    a.target = t;
                    a.lun = l;
                    a.device =
                        std::to_string(h) + "." + std::to_string(t) + "." + std::to_string(l);
                    out.push_back(a);
                }
            }
        }
        return out;
    }
    // Like the system's logical drive strings: in letter order; A and C are never probed.
    std::vector<const SimDrive*> sorted;
    for (const auto& p : m_drives)
        sorted.push_back(p.get());
    std::sort(sorted.begin(), sorted.end(),
              [](const SimDrive* a, const SimDrive* b) { return a->letter < b->letter; });
    for (const SimDrive* d : sorted) {
        if (cdromOnly && d->type != DriveType::Cdrom)
            continue;
        if (d->letter == 'A' || d->letter == 'C')
            continue;
        if (d->open == OpenMode::Denied)
            ++*denied;
        DriveAddress a;
        a.letter = d->letter;
        a.device = d->id;
        out.push_back(a);
    }
    return out;
}

bool CDriveSimulator::Open(const DriveAddress& addr, int* drive, bool* gone) const {
    *drive = -1;
    *gone = false;
    for (size_t i = 0; i < m_drives.size(); ++i) {
        SimDrive& d = *m_drives[i];
        const bool match =
            m_named  ? d.device == addr.device
            : m_aspi ? (d.host == addr.hostAdapter && d.target == addr.target && d.lun == addr.lun)
                     : d.letter == addr.letter;
        if (!match)
            continue;
        {
            std::lock_guard<std::mutex> lock(d.mutex);
            *gone = d.gone;
        }
        if (d.open != OpenMode::Ok || *gone)
            return false;
        *drive = static_cast<int>(i);
        return true;
    }
    // An ASPI address without a device can be addressed; it just never answers.
    return m_aspi;
}

TransportResult CDriveSimulator::Execute(int index, const ScsiCommand& cmd, uint8_t* sense) {
    std::memset(sense, 0, kSenseLength);
    if (index < 0 || index >= static_cast<int>(m_drives.size()))
        return TransportFailed(0);
    SimDrive& d = *m_drives[static_cast<size_t>(index)];
    if (d.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(d.delayMs));

    Outcome o;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        const uint32_t count = ++d.commands;
        const uint32_t nthOfKind = ++d.perOpcode[cmd.cdb[0]];
        const Fault* fault = nullptr;
        for (const Fault& f : d.faults) {
            const uint32_t seen = f.opcode == kAnyOpcode ? count : nthOfKind;
            if ((f.opcode == kAnyOpcode || f.opcode == cmd.cdb[0]) &&
                (seen == f.nth || (f.andLater && seen > f.nth))) {
                fault = &f;
                break;
            }
        }
        if (fault != nullptr && fault->refusal == Refusal::Gone)
            d.gone = true;
        if (d.gone) {
            o.delivered = false;
            o.refusal = Refusal::Gone;
        } else if (d.stopAfter != 0 && count > d.stopAfter) {
            o.delivered = false;
        } else if (fault != nullptr && fault->refusal != Refusal::None) {
            o.delivered = false;
            o.refusal = fault->refusal;
        } else if (fault != nullptr) {
            o = Check(fault->key, fault->asc, fault->ascq);
            o.status = fault->status;
        } else if (d.unitAttention && cmd.cdb[0] != kOpInquiry) {
            // Like the Linux scsi_debug drive: the new microcode is reported once.
            d.unitAttention = false;
            o = Check(6, 0x3F, 0x16);
        } else {
            o = Process(d, cmd);
        }

        std::string line = d.id + " |";
        for (unsigned i = 0; i < cmd.cdbLength && i < sizeof cmd.cdb; ++i)
            line += " " + HexByte(cmd.cdb[i]);
        line += cmd.direction == DirectionIn    ? " | in "
                : cmd.direction == DirectionOut ? " | out "
                                                : " | none ";
        line += std::to_string(cmd.length) + " | ";
        if (o.refusal == Refusal::Denied) {
            line += "denied";
        } else if (o.refusal == Refusal::Gone) {
            line += "gone";
        } else if (!o.delivered) {
            line += "transport";
        } else if (o.good) {
            line += "good";
        } else if (o.status != 0) {
            line += "status " + HexByte(o.status);
        } else {
            line +=
                "check " + HexByte(o.key).substr(1) + "/" + HexByte(o.asc) + "/" + HexByte(o.ascq);
        }
        if (cmd.cdb[0] == kOpWriteBuffer && cmd.direction == DirectionOut && cmd.buffer) {
            line +=
                " | fnv1a64 " + Hex16(Fnv1a64(static_cast<const uint8_t*>(cmd.buffer), cmd.length));
        }
        Journal(line);
    }
    if (o.stateChanged)
        SaveState();
    if (o.refusal == Refusal::Denied)
        return TransportFailed(0, TransportFault::NotPermitted);
    if (o.refusal == Refusal::Gone)
        return TransportFailed(0, TransportFault::DeviceGone);
    if (!o.delivered)
        return TransportFailed(0);
    if (o.good)
        return ScsiResult(0, sense, kSenseLength);
    if (o.status != 0)
        return ScsiResult(o.status, sense, 0);
    SetFixedSense(sense, o.key, o.asc, o.ascq);
    return ScsiResult(0x02, sense, kSenseLength);  // CHECK CONDITION
}

Outcome CDriveSimulator::Process(SimDrive& d, const ScsiCommand& cmd) {
    const uint8_t* c = cmd.cdb;
    const bool in = cmd.direction == DirectionIn && cmd.buffer != nullptr;
    switch (c[0]) {
        case kOpInquiry: {
            if (cmd.cdbLength != 6 || (c[1] & 0x01) != 0 || c[2] != 0)
                return Check(5, 0x24, 0);
            if (d.inquiryFailures > 0) {
                --d.inquiryFailures;
                return Check(2, 0x04, 0x01);
            }
            uint8_t data[48] = {};
            data[0] = 0x05;  // CD/DVD device
            data[1] = d.removable ? 0x80 : 0x00;
            data[2] = 0x05;
            data[3] = 0x32;
            data[4] = 48 - 5;
            const bool other = d.replaced && d.perOpcode[kOpInquiry] > d.replacedAfter;
            std::memcpy(data + 8, other ? d.otherVendor : d.vendor, 8);
            std::memcpy(data + 16, other ? d.otherProduct : d.product, 16);
            std::memcpy(data + 32, d.revision, 4);
            data[36] = d.customer;
            data[38] = d.minor[0];
            data[39] = d.minor[1];
            if (in) {
                const uint32_t n = std::min<uint32_t>({cmd.length, c[4], 48});
                std::memcpy(cmd.buffer, data, n);
            }
            return Outcome();
        }
        case kOpTestUnitReady:
            if (d.turFailures > 0) {
                --d.turFailures;
                return Check(2, 0x04, 0x01);
            }
            return d.medium ? Outcome() : Check(2, 0x3A, 0x00);
        case kOpStartStopUnit: {
            Outcome o;
            if ((c[4] & 0x02) != 0) {
                const bool load = (c[4] & 0x01) != 0;
                o.stateChanged = d.medium != load;
                d.medium = load;
            }
            return o;
        }
        case kOpWriteBuffer:
            return WriteBuffer(d, cmd);
        case kOpReadBuffer:
            if (cmd.cdbLength != 10 || !(DecodeBufferCdb(c) == kSettingBlock))
                return Check(5, 0x24, 0);
            if (in)
                std::memcpy(cmd.buffer, d.setting, std::min<uint32_t>(cmd.length, 8));
            return Outcome();
        case kOpSendDiagnostic: {
            if (cmd.cdbLength != 6 || !(DecodeDiagnosticCdb(c) == kInstallDiagnostic))
                return Check(5, 0x24, 0);
            if (cmd.direction != DirectionOut || cmd.buffer == nullptr ||
                cmd.length != sizeof kFinishParameters ||
                std::memcmp(cmd.buffer, kFinishParameters, sizeof kFinishParameters) != 0) {
                return Check(5, 0x26, 0);
            }
            return Install(d);
        }
        default:
            return Check(5, 0x20, 0);
    }
}

Outcome CDriveSimulator::WriteBuffer(SimDrive& d, const ScsiCommand& cmd) {
    const uint8_t* c = cmd.cdb;
    if (cmd.cdbLength != 10)
        return Check(5, 0x24, 0);
    const BufferCdb fields = DecodeBufferCdb(c);
    const uint8_t mode = fields.mode & 0x1F;
    const uint32_t offset = fields.offset;
    const uint32_t length = fields.length;
    if (cmd.direction != DirectionOut || cmd.length != length ||
        (length > 0 && cmd.buffer == nullptr)) {
        return Check(5, 0x24, 0);
    }
    const auto* data = static_cast<const uint8_t*>(cmd.buffer);
    if (fields == kSettingBlock) {
        Outcome o;
        o.stateChanged = std::memcmp(d.setting, data, 8) != 0;
        std::memcpy(d.setting, data, 8);
        return o;
    }
    if (fields.bufferId != 0 || (mode != kModeWriteData && mode != kModeDownloadSave))
        return Check(5, 0x24, 0);

    // Program image chunks: each image starts at offset 0 and continues without gaps.
    if (offset == 0) {
        d.current = Image();
        d.receiving = true;
    } else if (!d.receiving || offset != d.current.received) {
        return Check(5, 0x2C, 0x00);
    }
    d.current.Add(data, length);
    if (mode == kModeDownloadSave) {
        d.receiving = false;
        if (d.verify) {
            if (d.current.received != d.current.DeclaredLength())
                return Check(5, 0x26, 0x00);
            if (d.current.FinalSum() != 0xFFFF)
                return Check(5, 0x26, 0x02);
        }
        if (d.complete.size() < 8)
            d.complete.push_back(d.current);
        d.unitAttention = d.uaAfterMicrocode;
    }
    return Outcome();
}

Outcome CDriveSimulator::Install(SimDrive& d) {
    if (d.complete.empty())
        return Check(5, 0x2C, 0x00);
    for (const Image& img : d.complete) {
        if (!img.IsMain())
            continue;
        std::memset(d.revision, ' ', 4);
        for (int i = 0; i < 4 && img.header[40 + i] != 0; ++i)
            d.revision[i] = img.header[40 + i];
        d.minor[0] = d.minor[1] = ' ';
        if (img.received >= kKeptHeader) {
            const uint32_t b = std::memcmp(img.header + 1248, "ARMS", 4) == 0 ? 1264 : 1248;
            if (img.header[b + 4] != 0 && img.header[b + 5] != 0 && img.header[b + 6] != 0) {
                d.minor[0] = img.header[b + 5];
                d.minor[1] = img.header[b + 6];
            }
        }
        d.lastInstallHash = img.hash;
    }
    d.complete.clear();
    Outcome o;
    o.stateChanged = true;
    return o;
}

std::vector<SimulatedDriveState> CDriveSimulator::Snapshot() const {
    std::vector<SimulatedDriveState> out;
    for (const auto& p : m_drives) {
        std::lock_guard<std::mutex> lock(p->mutex);
        SimulatedDriveState s;
        s.id = p->id;
        s.revision = FieldText(p->revision, 4);
        s.minor = FieldText(p->minor, 2);
        s.customer = p->customer;
        s.medium = p->medium;
        std::memcpy(s.setting, p->setting, 8);
        s.commands = p->commands;
        s.imagesReceived = static_cast<uint32_t>(p->complete.size());
        s.lastInstallHash = p->lastInstallHash;
        out.push_back(s);
    }
    return out;
}

// ---------------------------------------------------------------------------------------------

uint64_t Fnv1a64(const uint8_t* data, size_t length, uint64_t hash) {
    for (size_t i = 0; i < length; ++i) {
        hash ^= data[i];
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

namespace {

std::mutex g_registryMutex;
std::map<std::string, std::shared_ptr<CDriveSimulator>> g_registry;

class SimulatorTransport : public IScsiTransport {
public:
    SimulatorTransport(std::shared_ptr<CDriveSimulator> sim, std::string problem)
        : m_sim(std::move(sim)), m_problem(std::move(problem)) {}

    DriveTransport Kind() const override { return m_sim ? m_sim->Kind() : TransportPassThrough; }
    std::string Name() const override { return m_sim ? m_sim->Name() : IScsiTransport::Name(); }
    bool NeedsPrivilege() const override { return m_sim && m_sim->NeedsPrivilege(); }
    std::vector<DriveAddress> Candidates(bool cdromOnly) override {
        if (!m_sim)
            return {};
        return m_sim->Candidates(cdromOnly, &m_denied);
    }
    bool Open(const DriveAddress& addr) override {
        m_drive = -1;
        m_gone = false;
        return m_sim && m_sim->Open(addr, &m_drive, &m_gone);
    }
    void Close() override {
        m_drive = -1;
        m_gone = false;
    }
    TransportResult Execute(const ScsiCommand& cmd) override {
        if (!m_sim || m_gone) {
            std::memset(m_sense, 0, sizeof m_sense);
            return TransportFailed(0,
                                   m_gone ? TransportFault::DeviceGone : TransportFault::Unknown);
        }
        return m_sim->Execute(m_drive, cmd, m_sense);
    }
    const uint8_t* Sense() const override { return m_sense; }
    int DeniedDevices() const override { return m_denied; }
    std::string Problem() const override { return m_problem; }
    std::unique_ptr<IScsiTransport> NewChannel() const override {
        return std::make_unique<SimulatorTransport>(m_sim, m_problem);
    }

private:
    std::shared_ptr<CDriveSimulator> m_sim;
    std::string m_problem;
    int m_drive = -1;
    bool m_gone = false;  // the open drive was removed
    int m_denied = 0;
    uint8_t m_sense[32] = {};
};

}  // namespace

std::shared_ptr<CDriveSimulator> OpenSimulator(const std::string& path, std::string* error) {
    const std::string key = MakeAbsolutePath(path);
    std::lock_guard<std::mutex> lock(g_registryMutex);
    const auto it = g_registry.find(key);
    if (it != g_registry.end())
        return it->second;
    auto sim = std::make_shared<CDriveSimulator>();
    std::string why;
    if (!sim->Load(path, &why)) {
        if (error)
            *error = why;
        return nullptr;
    }
    g_registry[key] = sim;
    return sim;
}

void ResetSimulators() {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_registry.clear();
}

std::unique_ptr<IScsiTransport> CreateSimulatorTransport(const std::string& path) {
    std::string error;
    auto sim = OpenSimulator(path, &error);
    if (!sim)
        return std::make_unique<SimulatorTransport>(nullptr, "simulated drives: " + error);
    return CreateSimulatorTransport(std::move(sim));
}

std::unique_ptr<IScsiTransport> CreateSimulatorTransport(std::shared_ptr<CDriveSimulator> sim) {
    return std::make_unique<SimulatorTransport>(std::move(sim), std::string());
}

std::vector<SimulatedDriveState> SimulatorSnapshot(const CDriveSimulator& sim) {
    return sim.Snapshot();
}
