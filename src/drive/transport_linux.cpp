// SG_IO transport: the optical drives of the machine (/dev/sr*), known by their device names
// and the kernel's host:channel:target:lun; the ASPI-style address keeps the low 8 bits.
#include <fcntl.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "drive/drive_control.h"

namespace {

// The kernel's own reason for a failed request. A device whose node has gone was removed,
// whatever the request ended with.
TransportFault FaultOf(int error, const std::string& device) {
    if (error == EPERM || error == EACCES)
        return TransportFault::NotPermitted;
    if (error == ENODEV || error == ENXIO)
        return TransportFault::DeviceGone;
    if (device.empty())
        return TransportFault::Unknown;
    struct stat info {};
    if (stat(device.c_str(), &info) != 0 && errno == ENOENT)
        return TransportFault::DeviceGone;
    // The kernel fails the requests of a device being removed before its node goes; sysfs
    // tells first: the block device has left, or its SCSI device is cancelled or deleted.
    const std::filesystem::path block =
        "/sys/class/block/" + std::filesystem::path(device).filename().string();
    std::error_code ec;
    if (std::filesystem::is_directory("/sys/class/block", ec) &&
        !std::filesystem::exists(block, ec) && !ec) {
        return TransportFault::DeviceGone;
    }
    char state[16] = {};
    if (std::FILE* f = std::fopen((block / "device" / "state").c_str(), "rb")) {
        const size_t n = std::fread(state, 1, sizeof state - 1, f);
        std::fclose(f);
        const std::string text(state, n);
        if (text.rfind("cancel", 0) == 0 || text.rfind("deleted", 0) == 0)
            return TransportFault::DeviceGone;
    }
    return TransportFault::Unknown;
}

bool IsNumber(const std::string& text) {
    return !text.empty() && text.size() <= 10 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "2:0:1:0": the name of the SCSI device behind /sys/class/block/NAME/device; empty when
// sysfs does not tell.
std::string SysfsAddress(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path link =
        std::filesystem::read_symlink("/sys/class/block/" + name + "/device", ec);
    if (ec)
        return std::string();
    const std::string text = link.filename().string();
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const size_t end = part < 3 ? text.find(':', start) : text.size();
        if (end == std::string::npos || !IsNumber(text.substr(start, end - start)))
            return std::string();
        start = end + 1;
    }
    return text;
}

class SgTransport : public IScsiTransport {
public:
    ~SgTransport() override { Close(); }

    DriveTransport Kind() const override { return TransportAspi; }
    std::string Name() const override { return "sg_io"; }
    bool NeedsPrivilege() const override { return true; }

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
            a.name = "sr" + std::to_string(n);
            a.device = "/dev/" + a.name;
            const int fd = OpenDevice(a.device);
            if (fd < 0) {
                if (errno == EACCES || errno == EPERM)
                    ++m_denied;
                continue;
            }
            // dev_id: target in bits 0-7, LUN 8-15, channel 16-23, host 24-31; the bus number
            // is the whole host number.
            int idlun[2] = {0, 0};
            int host = -1;
            if (ioctl(fd, SCSI_IOCTL_GET_IDLUN, idlun) == 0) {
                const auto id = static_cast<uint32_t>(idlun[0]);
                a.target = static_cast<uint8_t>(id & 0xFF);
                a.lun = static_cast<uint8_t>((id >> 8) & 0xFF);
                a.hostAdapter = static_cast<uint8_t>((id >> 24) & 0xFF);
                if (ioctl(fd, SCSI_IOCTL_GET_BUS_NUMBER, &host) != 0)
                    host = static_cast<int>(id >> 24);
                a.fullAddress = std::to_string(host) + ":" + std::to_string((id >> 16) & 0xFF) +
                                ":" + std::to_string(id & 0xFF) + ":" +
                                std::to_string((id >> 8) & 0xFF);
            }
            close(fd);
            // sysfs has the numbers uncut.
            const std::string full = SysfsAddress(a.name);
            if (!full.empty())
                a.fullAddress = full;
            out.push_back(a);
        }
        return out;
    }

    bool Open(const DriveAddress& addr) override {
        Close();
        m_device = addr.device;
        m_fd = OpenDevice(addr.device);
        m_openError = m_fd < 0 ? errno : 0;
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
            return Failed(m_openError);
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
            return Failed(errno);
        // The host adapter or the driver lost the command (a time-out among them): not
        // delivered, like an ASPI error; the device's node tells whether it is gone.
        const TransportResult result =
            SgIoResult(io.status, io.host_status, io.driver_status, io.sb_len_wr, m_sense);
        return result.category == CommandCategory::TransportFailure ? Failed(0) : result;
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

    TransportResult Failed(int error) const {
        return TransportFailed(static_cast<uint32_t>(error), FaultOf(error, m_device));
    }

    int m_fd = -1;
    int m_openError = 0;
    std::string m_device;
    int m_denied = 0;
    uint8_t m_sense[32] = {};
};

}  // namespace

std::unique_ptr<IScsiTransport> CreatePlatformTransport() {
    return std::make_unique<SgTransport>();
}
