// Fault rules: the faults a drive file gives a drive, and what meets a command before the drive
// answers it.
#include "drive/scsi_commands.h"
#include "drive/simulator_drive.h"

namespace simulator {

namespace {

bool ParseOpcode(const std::string& s, int* out) {
    static const std::map<std::string, int> names = {
        {"ANY", kAnyOpcode},
        {"TEST_UNIT_READY", scsi::kOpTestUnitReady},
        {"INQUIRY", scsi::kOpInquiry},
        {"START_STOP_UNIT", scsi::kOpStartStopUnit},
        {"SEND_DIAGNOSTIC", scsi::kOpSendDiagnostic},
        {"WRITE_BUFFER", scsi::kOpWriteBuffer},
        {"READ_BUFFER", scsi::kOpReadBuffer},
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

}  // namespace

bool ParseFault(const std::vector<Token>& t, Fault* f, std::string* why) {
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

bool Intercept(SimDrive& d, uint8_t opcode, uint32_t count, uint32_t nthOfKind, Outcome* o) {
    const Fault* fault = nullptr;
    for (const Fault& f : d.faults) {
        const uint32_t seen = f.opcode == kAnyOpcode ? count : nthOfKind;
        if ((f.opcode == kAnyOpcode || f.opcode == opcode) &&
            (seen == f.nth || (f.andLater && seen > f.nth))) {
            fault = &f;
            break;
        }
    }
    if (fault != nullptr && fault->refusal == Refusal::Gone)
        d.gone = true;
    *o = Outcome();
    if (d.gone) {
        o->delivered = false;
        o->refusal = Refusal::Gone;
    } else if (d.stopAfter != 0 && count > d.stopAfter) {
        o->delivered = false;
    } else if (fault != nullptr && fault->refusal != Refusal::None) {
        o->delivered = false;
        o->refusal = fault->refusal;
    } else if (fault != nullptr) {
        *o = Check(fault->key, fault->asc, fault->ascq);
        o->status = fault->status;
    } else if (d.unitAttention && opcode != scsi::kOpInquiry) {
        // Like the Linux scsi_debug drive: the new microcode is reported once.
        d.unitAttention = false;
        *o = Check(scsi::kSenseUnitAttention, 0x3F, 0x16);
    } else {
        return false;
    }
    return true;
}

}  // namespace simulator
