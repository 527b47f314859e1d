// SG_IO transport: the optical drives of the machine (/dev/sr*), addressed like ASPI drives by
// the kernel's host, target and LUN.
#include <fcntl.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "drive/drive_control.h"

namespace {

class SgTransport : public IScsiTransport {
public:
    ~SgTransport() override { Close(); }

    DriveTransport Kind() const override { return TransportAspi; }

    std::vector<DriveAddress> Candidates(bool /*cdromOnly*/) override {
        m_denied = 0;
        std::vector<int> numbers;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
            const std::string name = entry.path().filename().string();
            if (name.size() < 3 || name.compare(0, 2, "sr") != 0)
                continue;
            if (!std::all_of(name.begin() + 2, name.end(),
                             [](char c) { return c >= '0' && c <= '9'; }) ||
                name.size() > 8) {
                continue;
            }
            numbers.push_back(std::stoi(name.substr(2)));
        }
        std::sort(numbers.begin(), numbers.end());
        std::vector<DriveAddress> out;
        for (int n : numbers) {
            DriveAddress a;
            a.device = "/dev/sr" + std::to_string(n);
            const int fd = OpenDevice(a.device);
            if (fd < 0) {
                if (errno == EACCES || errno == EPERM)
                    ++m_denied;
                continue;
            }
            // dev_id: target in bits 0-7, LUN 8-15, channel 16-23, host 24-31.
            int idlun[2] = {0, 0};
            if (ioctl(fd, SCSI_IOCTL_GET_IDLUN, idlun) == 0) {
                const auto id = static_cast<uint32_t>(idlun[0]);
                a.target = static_cast<uint8_t>(id & 0xFF);
                a.lun = static_cast<uint8_t>((id >> 8) & 0xFF);
                a.hostAdapter = static_cast<uint8_t>((id >> 24) & 0xFF);
            }
            close(fd);
            out.push_back(a);
        }
        return out;
    }

    bool Open(const DriveAddress& addr) override {
        Close();
        m_fd = OpenDevice(addr.device);
        m_openError = m_fd < 0 ? static_cast<uint32_t>(errno) : 0;
        return m_fd >= 0;
    }

    void Close() override {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

    TransportResult Execute(const ScsiCommand& cmd) override {
        std::memset(m_sense, 0, sizeof m_sense);
        if (m_fd < 0)
            return TransportFailed(m_openError);
        uint8_t cdb[16] = {};
        std::memcpy(cdb, cmd.cdb, sizeof cmd.cdb);
        sg_io_hdr_t io;
        std::memset(&io, 0, sizeof io);
        io.interface_id = 'S';
        io.cmd_len = cmd.cdbLength;
        io.cmdp = cdb;
        io.mx_sb_len = kSenseLength;
        io.sbp = m_sense;
        io.timeout = cmd.timeoutSeconds * 1000u;
        if (cmd.direction == DirectionIn) {
            io.dxfer_direction = SG_DXFER_FROM_DEV;
        } else if (cmd.direction == DirectionOut) {
            io.dxfer_direction = SG_DXFER_TO_DEV;
        } else {
            io.dxfer_direction = SG_DXFER_NONE;
        }
        if (io.dxfer_direction != SG_DXFER_NONE) {
            io.dxferp = cmd.buffer;
            io.dxfer_len = cmd.length;
        }
        if (ioctl(m_fd, SG_IO, &io) < 0)
            return TransportFailed(static_cast<uint32_t>(errno));
        // The host adapter or the driver lost the command (a time-out among them): not
        // delivered, like an ASPI error.
        if (io.host_status != 0 || (io.driver_status & 0x0F) != 0) {
            if (io.status == 0 || io.sb_len_wr == 0)
                return TransportFailed(0);
        }
        return ScsiResult(io.status, m_sense, io.sb_len_wr);
    }

    const uint8_t* Sense() const override { return m_sense; }
    int DeniedDevices() const override { return m_denied; }
    std::unique_ptr<IScsiTransport> NewChannel() const override {
        return std::make_unique<SgTransport>();
    }

private:
    static int OpenDevice(const std::string& device) {
        return open(device.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }

    int m_fd = -1;
    uint32_t m_openError = 0;
    int m_denied = 0;
    uint8_t m_sense[32] = {};
};

}  // namespace

std::unique_ptr<IScsiTransport> CreatePlatformTransport() {
    return std::make_unique<SgTransport>();
}
