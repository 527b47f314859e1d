// The drive file: its syntax (words, quoted strings, numbers, comments) and its keys.
#include <algorithm>
#include <cctype>

#include "base/path_rules.h"
#include "base/text.h"
#include "drive/simulator_drive.h"

using namespace simulator;

namespace {

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

}  // namespace

namespace simulator {

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

bool ParseNumber(const std::string& s, uint32_t max, uint32_t* out, int base) {
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

}  // namespace simulator

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
    if (key == "activates") {
        if (!single || (v != "now" && v != "restart")) {
            *why = "now or restart expected";
            return false;
        }
        d.activatesAtRestart = v == "restart";
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
