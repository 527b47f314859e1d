// How a simulated drive answers the program's commands.
#include <algorithm>
#include <chrono>
#include <thread>

#include "drive/scsi_commands.h"
#include "drive/simulator_drive.h"

using namespace scsi;
using namespace simulator;

namespace {

// The diagnostic that installs the images received: UnitOffL and a parameter list of 6 bytes.
constexpr DiagnosticCdb kInstallDiagnostic = {kDiagnosticUnitOffline, 0, 6, 0};

}  // namespace

namespace simulator {

Outcome Check(uint8_t key, uint8_t asc, uint8_t ascq) {
    Outcome o;
    o.good = false;
    o.key = key;
    o.asc = asc;
    o.ascq = ascq;
    return o;
}

}  // namespace simulator

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
        if (!Intercept(d, cmd.cdb[0], count, nthOfKind, &o))
            o = Process(d, cmd);
        Journal(JournalLine(d.id, cmd, o));
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
        d.lastInstallHash = img.hash;
        // Microcode that runs from the next power-on: the drive reports its old revision.
        if (d.activatesAtRestart)
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
    }
    d.complete.clear();
    Outcome o;
    o.stateChanged = true;
    return o;
}
