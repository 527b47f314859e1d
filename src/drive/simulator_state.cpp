// What outlives a run: the state file (revision, minor revision, medium and setting block of
// every drive) and the journal of commands.
#include "base/file_io.h"
#include "base/text.h"
#include "drive/scsi_commands.h"
#include "drive/simulator_drive.h"

using namespace simulator;

namespace {

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

}  // namespace

namespace simulator {

std::string JournalLine(const std::string& id, const ScsiCommand& cmd, const Outcome& o) {
    std::string line = id + " |";
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
        line += "check " + HexByte(o.key).substr(1) + "/" + HexByte(o.asc) + "/" + HexByte(o.ascq);
    }
    if (cmd.cdb[0] == scsi::kOpWriteBuffer && cmd.direction == DirectionOut && cmd.buffer) {
        line += " | fnv1a64 " + Hex16(Fnv1a64(static_cast<const uint8_t*>(cmd.buffer), cmd.length));
    }
    return line;
}

}  // namespace simulator

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
