// Fuzz entry: a download (CUpdateExecuter::Download) of an arbitrary firmware body into a
// drive whose every answer comes from the input.
//
// Input: byte 0 flags (bit 0: a listed model, bit 1: make the code sizes of the body walk
// it exactly, bit 2: the identity check before the download is answered from the input too,
// bit 3: another drive answers that check), bytes 1-2 the body length (big-endian, at most
// 0xFFFF), the body, then one answer per command: a kind byte (kind % 5: 0 good, 1
// transport failure, 2 and 3 CHECK CONDITION with the next two bytes as ASC/ASCQ followed by
// the sense bytes, 4 the next byte as a status without sense data), then data-in bytes as the
// command needs them. When the input is used up every command is answered good.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "download/update_executer.h"
#include "support/fuzz_targets.h"

namespace fuzz {

namespace {

constexpr uint32_t kMaxChunk = 32768;

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    size_t Left() const { return m_size - m_pos; }
    uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    // Copies up to n bytes; the rest of out is zero.
    void Fill(uint8_t* out, size_t n) {
        const size_t k = std::min(n, Left());
        if (k)
            std::memcpy(out, m_data + m_pos, k);
        std::memset(out + k, 0, n - k);
        m_pos += k;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

struct Sent {
    uint8_t cdb[12] = {};
    uint8_t opcode = 0;
    uint8_t mode = 0;
    uint32_t offset = 0;  // CDB bytes 3-5
    const uint8_t* buffer = nullptr;
    uint32_t length = 0;
    CommandStatus status = 0;
    bool unitAttention = false;
    bool identity = false;  // an INQUIRY that answered the drive's own identity
};

constexpr uint8_t kFlagListed = 1, kFlagIdentityFromInput = 4, kFlagOtherDrive = 8;

class FuzzTransport : public IScsiTransport {
public:
    FuzzTransport(Input& input, uint8_t flags, std::vector<Sent>& log)
        : m_input(input), m_flags(flags), m_log(log) {}

    DriveTransport Kind() const override { return TransportPassThrough; }
    std::vector<DriveAddress> Candidates(bool) override {
        DriveAddress a;
        a.letter = 'D';
        return {a};
    }
    bool Open(const DriveAddress&) override { return true; }
    void Close() override {}
    const uint8_t* Sense() const override { return m_sense; }

    TransportResult Execute(const ScsiCommand& cmd) override {
        std::memset(m_sense, 0, sizeof m_sense);
        FUZZ_CHECK(cmd.direction == DirectionNone || cmd.length == 0 || cmd.buffer != nullptr);
        const bool inquiry = cmd.cdb[0] == 0x12;
        if (!m_enumerated) {
            // The drive's identity: enumeration is not what this target explores.
            FUZZ_CHECK(inquiry && cmd.direction == DirectionIn && cmd.length >= 36);
            Identify(static_cast<uint8_t*>(cmd.buffer), cmd.length, false);
            m_enumerated = true;
            return ScsiResult(0, m_sense, kSenseLength);
        }
        Sent s;
        std::memcpy(s.cdb, cmd.cdb, sizeof s.cdb);
        s.opcode = cmd.cdb[0];
        s.mode = cmd.cdb[1];
        s.offset = (uint32_t{cmd.cdb[3]} << 16) | (uint32_t{cmd.cdb[4]} << 8) | cmd.cdb[5];
        s.buffer = static_cast<const uint8_t*>(cmd.buffer);
        s.length = cmd.length;
        const bool fromInput = !inquiry || (m_flags & kFlagIdentityFromInput) != 0;
        const uint8_t kind = fromInput && m_input.Left() ? m_input.Byte() % 5 : 0;
        TransportResult r;
        if (kind == 1) {
            r = TransportFailed(0);
        } else if (kind == 2 || kind == 3) {
            const uint8_t asc = m_input.Byte();
            const uint8_t ascq = m_input.Byte();
            m_input.Fill(m_sense, sizeof m_sense);
            m_sense[12] = asc;
            m_sense[13] = ascq;
            r = ScsiResult(0x02, m_sense, kSenseLength);
        } else if (kind == 4) {
            const uint8_t status = m_input.Byte();
            r = ScsiResult(status != 0 ? status : 0x08, m_sense, 0);
        } else if (inquiry) {
            Identify(static_cast<uint8_t*>(cmd.buffer), cmd.length,
                     (m_flags & kFlagOtherDrive) != 0);
            s.identity = (m_flags & kFlagOtherDrive) == 0;
            r = ScsiResult(0, m_sense, kSenseLength);
        } else {
            if (cmd.direction == DirectionIn)
                m_input.Fill(static_cast<uint8_t*>(cmd.buffer), cmd.length);
            r = ScsiResult(0, m_sense, kSenseLength);
        }
        s.status = StatusOf(r, m_sense);
        s.unitAttention = r.category == CommandCategory::CheckCondition && (m_sense[2] & 0x0F) == 6;
        FUZZ_CHECK((s.status == kStatusGood) == (r.category == CommandCategory::Good));
        m_log.push_back(s);
        return r;
    }

    bool Enumerated() const { return m_enumerated; }

private:
    void Identify(uint8_t* inquiry, uint32_t length, bool other) {
        std::memset(inquiry, ' ', length);
        inquiry[0] = 5;
        inquiry[1] = 0x80;
        const char* product = other                     ? "DVD-ROM XYZ-1234"
                              : (m_flags & kFlagListed) ? "DVDRAM KXS-7350P"
                                                        : "DVD-RAM KVS-Q42R";
        std::memcpy(inquiry + 16, product, 16);
    }

    Input& m_input;
    uint8_t m_flags;
    std::vector<Sent>& m_log;
    bool m_enumerated = false;
    uint8_t m_sense[kSenseLength] = {};
};

bool SameCommand(const Sent& a, const Sent& b) {
    return std::memcmp(a.cdb, b.cdb, sizeof a.cdb) == 0 && a.buffer == b.buffer &&
           a.length == b.length;
}

void PutBE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

}  // namespace

int Download(const uint8_t* data, size_t size) {
    Input input(data, size);
    const uint8_t flags = input.Byte();
    const uint32_t length = (uint32_t{input.Byte()} << 8) | input.Byte();
    // The body in a buffer of exactly its length, so that any read past it is caught.
    std::unique_ptr<uint8_t[]> body(new uint8_t[length ? length : 1]);
    input.Fill(body.get(), length);
    if (flags & 2) {
        // Code sizes that walk the body exactly, taken from the bytes already there.
        uint32_t at = 0;
        while (length - at >= 1024) {
            const uint32_t rest = length - at - 1024;
            const uint32_t wanted = (uint32_t{body[at + 70]} << 8) | body[at + 71];
            const uint32_t code = (body[at + 69] & 1) || wanted > rest ? rest : wanted;
            PutBE32(body.get() + at + 68, code);
            at += 1024 + code;
        }
    }

    std::vector<Sent> sentLog;
    auto transport = std::make_unique<FuzzTransport>(input, flags, sentLog);
    FuzzTransport* t = transport.get();
    CUpdateExecuter exec(std::move(transport));
    FUZZ_CHECK(exec.SelectDrive(0u));
    FUZZ_CHECK(t->Enumerated());
    std::vector<unsigned> sleeps;
    exec.SetSleep([&](unsigned ms) { sleeps.push_back(ms); });
    exec.SetImage(body.get(), length);
    exec.Download();

    const uint8_t result = exec.GetResult();
    FUZZ_CHECK(result == ResultSucceeded || result == ResultFailed ||
               result == ResultSequenceError);
    FUZZ_CHECK(exec.GetBytesSent() <= length);
    const std::string& text = exec.GetErrorText();
    FUZZ_CHECK(result != ResultSucceeded || text.empty());
    FUZZ_CHECK(result != ResultSequenceError || text.empty());

    // UNIT ATTENTION: the same command again, at most three times; only the last answer
    // counts.
    std::vector<Sent> log;
    int repeats = 0;
    for (size_t i = 0; i < sentLog.size(); ++i) {
        const Sent& s = sentLog[i];
        if (s.unitAttention && repeats < CDriveControl::kUnitAttentionRepeats) {
            FUZZ_CHECK(i + 1 < sentLog.size() && SameCommand(s, sentLog[i + 1]));
            ++repeats;
            continue;
        }
        repeats = 0;
        log.push_back(s);
    }

    // Before anything else the drive is asked who it is; nothing is sent to a drive that does
    // not answer or answers as another drive.
    if (log.empty()) {  // the code sizes do not walk the body: nothing is sent at all
        FUZZ_CHECK(result == ResultFailed && sleeps.empty());
        return 0;
    }
    FUZZ_CHECK(log[0].opcode == 0x12 && log[0].length == 36);
    if (log[0].status != kStatusGood || !log[0].identity) {
        FUZZ_CHECK(log.size() == 1);
        FUZZ_CHECK(result == ResultFailed);
        FUZZ_CHECK(text.find("nothing was written") != std::string::npos);
        return 0;
    }
    log.erase(log.begin());

    // Every image chunk lies inside the body, continues its image and carries the right mode.
    uint32_t expectedOffset = 0;
    uint32_t sent = 0;
    const Sent* lastChunk = nullptr;
    const Sent* diagnostic = nullptr;
    for (const Sent& s : log) {
        if (s.opcode == 0x3B && s.buffer >= body.get() && s.buffer < body.get() + length) {
            FUZZ_CHECK(!diagnostic);
            FUZZ_CHECK(s.length >= 1 && s.length <= kMaxChunk);
            FUZZ_CHECK(s.buffer + s.length <= body.get() + length);
            FUZZ_CHECK(static_cast<uint32_t>(s.buffer - body.get()) == sent);
            FUZZ_CHECK(s.offset == expectedOffset);
            sent += s.length;
            expectedOffset = s.mode == 5 ? 0 : expectedOffset + s.length;
            lastChunk = &s;
        } else if (s.opcode == 0x1D) {
            FUZZ_CHECK(!diagnostic);
            diagnostic = &s;
        } else if (s.opcode == 0x12) {
            // The drive asked again after the download: the 48-byte INQUIRY.
            FUZZ_CHECK(diagnostic && s.length == 48);
        } else {
            FUZZ_CHECK(s.opcode == 0x3B || s.opcode == 0x3C || s.opcode == 0x00);
            FUZZ_CHECK(s.length == 8 || s.opcode == 0x00);
        }
    }
    if (diagnostic) {
        FUZZ_CHECK(sent == length);  // the whole body went out before the diagnostic
        if (diagnostic->status != 0) {
            FUZZ_CHECK(result == ResultFailed && sleeps.empty());
            FUZZ_CHECK(&log.back() == diagnostic);
        } else {
            // The 3 s wait, then a second between the questions to the restarting drive,
            // for at most 60 s; success only when the drive answered INQUIRY as itself.
            FUZZ_CHECK(!sleeps.empty() && sleeps[0] == 3000 && sleeps.size() <= 60);
            FUZZ_CHECK(std::all_of(sleeps.begin() + 1, sleeps.end(),
                                   [](unsigned ms) { return ms == 1000; }));
            const Sent& last = log.back();
            const bool answered = last.opcode == 0x12 && last.status == 0 && last.identity;
            FUZZ_CHECK(result == (answered ? ResultSucceeded : ResultFailed));
            FUZZ_CHECK(answered || !text.empty());
            const Verification v = exec.GetVerification();
            FUZZ_CHECK(answered ? v != Verification::None : v == Verification::None);
        }
    } else {
        FUZZ_CHECK(result != ResultSucceeded);
        if (result == ResultSequenceError) {
            FUZZ_CHECK(lastChunk && lastChunk->status == 0x2C00);
        }
    }
    if (result == ResultFailed && lastChunk && lastChunk->status != 0 && !diagnostic) {
        FUZZ_CHECK(text.size() >= 88 && text[87] == ')');
        FUZZ_CHECK(text.rfind(" (Error data = ", 0) == 0 && text.back() == ')');
    }
    return 0;
}

}  // namespace fuzz
