// Fuzz entry: a download (CUpdateExecuter::Download) of an arbitrary firmware body into a
// drive whose every answer comes from the input.
//
// Input: byte 0 flags (bit 0: a listed model, bit 1: make the code sizes of the body walk
// it exactly), bytes 1-2 the body length (big-endian, at most 0xFFFF), the body, then one
// answer per command: a kind byte (kind % 4: 0 good, 1 transport failure, 2 and 3 CHECK
// CONDITION with the next two bytes as ASC/ASCQ), then sense bytes and data-in bytes as the
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
    uint8_t opcode = 0;
    uint8_t mode = 0;
    uint32_t offset = 0;  // CDB bytes 3-5
    const uint8_t* buffer = nullptr;
    uint32_t length = 0;
    CommandStatus status = 0;
};

class FuzzTransport : public IScsiTransport {
public:
    FuzzTransport(Input& input, bool listed, std::vector<Sent>& log)
        : m_input(input), m_listed(listed), m_log(log) {}

    DriveTransport Kind() const override { return TransportPassThrough; }
    std::vector<DriveAddress> Candidates(bool) override {
        DriveAddress a;
        a.letter = 'D';
        return {a};
    }
    bool Open(const DriveAddress&) override { return true; }
    void Close() override {}
    const uint8_t* Sense() const override { return m_sense; }

    CommandStatus Execute(const ScsiCommand& cmd) override {
        std::memset(m_sense, 0, sizeof m_sense);
        FUZZ_CHECK(cmd.direction == DirectionNone || cmd.length == 0 || cmd.buffer != nullptr);
        if (!m_enumerated) {
            // The drive's identity: enumeration is not what this target explores.
            FUZZ_CHECK(cmd.cdb[0] == 0x12 && cmd.direction == DirectionIn && cmd.length >= 36);
            auto* inquiry = static_cast<uint8_t*>(cmd.buffer);
            std::memset(inquiry, ' ', cmd.length);
            inquiry[0] = 5;
            inquiry[1] = 0x80;
            std::memcpy(inquiry + 16, m_listed ? "DVDRAM KXS-7350P" : "DVD-RAM KVS-Q42R", 16);
            m_enumerated = true;
            return kStatusGood;
        }
        Sent s;
        s.opcode = cmd.cdb[0];
        s.mode = cmd.cdb[1];
        s.offset = (uint32_t{cmd.cdb[3]} << 16) | (uint32_t{cmd.cdb[4]} << 8) | cmd.cdb[5];
        s.buffer = static_cast<const uint8_t*>(cmd.buffer);
        s.length = cmd.length;
        const uint8_t kind = m_input.Left() ? m_input.Byte() % 4 : 0;
        if (kind == 1) {
            s.status = kStatusTransportFailure;
        } else if (kind >= 2) {
            const uint8_t asc = m_input.Byte();
            const uint8_t ascq = m_input.Byte();
            m_input.Fill(m_sense, sizeof m_sense);
            m_sense[12] = asc;
            m_sense[13] = ascq;
            s.status = static_cast<CommandStatus>((asc << 8) | ascq);
        } else if (cmd.direction == DirectionIn) {
            m_input.Fill(static_cast<uint8_t*>(cmd.buffer), cmd.length);
        }
        m_log.push_back(s);
        return s.status;
    }

    bool Enumerated() const { return m_enumerated; }

private:
    Input& m_input;
    bool m_listed;
    std::vector<Sent>& m_log;
    bool m_enumerated = false;
    uint8_t m_sense[kSenseLength] = {};
};

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

    std::vector<Sent> log;
    auto transport = std::make_unique<FuzzTransport>(input, (flags & 1) != 0, log);
    FuzzTransport* t = transport.get();
    CUpdateExecuter exec(std::move(transport));
    FUZZ_CHECK(t->Enumerated());
    std::vector<unsigned> sleeps;
    exec.SetSleep([&](unsigned ms) { sleeps.push_back(ms); });
    exec.SetImage(body.get(), length);
    exec.SelectDrive(0);
    exec.Download();

    const uint8_t result = exec.GetResult();
    FUZZ_CHECK(result == ResultSucceeded || result == ResultFailed ||
               result == ResultSequenceError);
    FUZZ_CHECK(exec.GetBytesSent() <= length);
    const std::string& text = exec.GetErrorText();
    FUZZ_CHECK(result != ResultSucceeded || text.empty());
    FUZZ_CHECK(result != ResultSequenceError || text.empty());

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
        } else {
            FUZZ_CHECK(s.opcode == 0x3B || s.opcode == 0x3C || s.opcode == 0x00);
            FUZZ_CHECK(s.length == 8 || s.opcode == 0x00);
        }
    }
    if (diagnostic) {
        FUZZ_CHECK(sent == length);  // the whole body went out before the diagnostic
        FUZZ_CHECK(result == (diagnostic->status == 0 ? ResultSucceeded : ResultFailed));
        FUZZ_CHECK(sleeps.size() == (diagnostic->status == 0 ? 1u : 0u));
    } else {
        FUZZ_CHECK(result != ResultSucceeded);
        if (result == ResultSequenceError) {
            FUZZ_CHECK(lastChunk && lastChunk->status == 0x2C00);
        }
    }
    if (result == ResultFailed && lastChunk && lastChunk->status != 0 && !diagnostic) {
        FUZZ_CHECK(text.size() == 88);
        FUZZ_CHECK(text.rfind(" (Error data = ", 0) == 0 && text.back() == ')');
    }
    return 0;
}

}  // namespace fuzz
