#include "support/sim_support.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace testsupport {

SimulatedDrives::SimulatedDrives(const std::string& driveText) {
    m_file = m_dir.File("drives.txt");
    std::ofstream out(m_file, std::ios::binary);
    out << "journal = journal.txt\n" << driveText;
    out.close();
    ResetSimulators();
    const std::string file = m_file;
    SetTransportFactory([file] { return CreateSimulatorTransport(file); });
}

SimulatedDrives::~SimulatedDrives() {
    SetTransportFactory(nullptr);
    ResetSimulators();
}

std::vector<JournalEntry> SimulatedDrives::Journal() const {
    std::vector<JournalEntry> out;
    std::ifstream in(JournalPath());
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> parts;
        size_t start = 0;
        for (;;) {
            const size_t bar = line.find(" | ", start);
            parts.push_back(line.substr(start, bar - start));
            if (bar == std::string::npos)
                break;
            start = bar + 3;
        }
        JournalEntry e;
        e.drive = parts.at(0);
        e.cdb = parts.at(1);
        std::istringstream dir(parts.at(2));
        dir >> e.direction >> e.length;
        e.result = parts.at(3);
        if (parts.size() > 4)
            e.hash = parts[4].substr(parts[4].find(' ') + 1);
        out.push_back(e);
    }
    return out;
}

std::vector<std::string> SimulatedDrives::Cdbs(const std::string& drive) const {
    std::vector<std::string> out;
    for (const JournalEntry& e : Journal()) {
        if (drive.empty() || e.drive == drive)
            out.push_back(e.cdb);
    }
    return out;
}

void SimulatedDrives::ClearJournal() const {
    std::ofstream out(JournalPath(), std::ios::trunc);
}

std::vector<SimulatedDriveState> SimulatedDrives::State() const {
    std::string error;
    auto sim = OpenSimulator(m_file, &error);
    return sim ? SimulatorSnapshot(*sim) : std::vector<SimulatedDriveState>();
}

void SimulatedDrives::Restart() {
    ResetSimulators();
}

std::vector<uint8_t> MakeImage(bool main, uint32_t total, const std::string& revision,
                               const std::string& minor, uint8_t seed) {
    std::vector<uint8_t> img(total < 1024 ? 1024 : total, 0);
    for (size_t i = 1024; i < img.size(); ++i)
        img[i] = static_cast<uint8_t>(i * 7 + seed);
    std::snprintf(reinterpret_cast<char*>(img.data() + 16), 9, "%s", "XY-12345");
    std::memcpy(img.data() + 24, main ? "MAIN" : "CORE", 4);
    if (main) {
        for (size_t i = 0; i < revision.size() && i < 4; ++i)
            img[40 + i] = static_cast<uint8_t>(revision[i]);
    }
    const uint32_t code = static_cast<uint32_t>(img.size()) - 1024;
    img[68] = static_cast<uint8_t>(code >> 24);
    img[69] = static_cast<uint8_t>(code >> 16);
    img[70] = static_cast<uint8_t>(code >> 8);
    img[71] = static_cast<uint8_t>(code);
    if (main && img.size() >= 1280 && minor.size() == 2) {
        img[1252] = 1;
        img[1253] = static_cast<uint8_t>(minor[0]);
        img[1254] = static_cast<uint8_t>(minor[1]);
    }
    // Word sum 0xFFFF: the header word at 1000 absorbs the difference.
    uint16_t sum = 0;
    for (size_t i = 0; i < img.size(); i += 2) {
        const uint8_t low = i + 1 < img.size() ? img[i + 1] : 0;
        sum = static_cast<uint16_t>(sum + (img[i] << 8 | low));
    }
    const uint16_t fix = static_cast<uint16_t>(0xFFFF - sum);
    img[1000] = static_cast<uint8_t>(fix >> 8);
    img[1001] = static_cast<uint8_t>(fix);
    return img;
}

std::string HexHash(const uint8_t* data, size_t length) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%016llx",
                  static_cast<unsigned long long>(Fnv1a64(data, length)));
    return buf;
}

}  // namespace testsupport
