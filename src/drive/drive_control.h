// CDriveControl: the one place that talks to drives. Commands go through a
// transport chosen once at construction; the drive list and the identity of
// each drive come from INQUIRY.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum DriveTransport : uint8_t { TransportNone = 0, TransportAspi = 1, TransportPassThrough = 2 };

enum DataDirection : uint8_t { DirectionNone = 0, DirectionIn = 1, DirectionOut = 2 };

// 0 good, 0xFFFF transport failure, otherwise ASC << 8 | ASCQ.
using CommandStatus = uint16_t;
inline constexpr CommandStatus kStatusGood = 0;
inline constexpr CommandStatus kStatusTransportFailure = 0xFFFF;

inline constexpr int kSenseLength = 24;

// The one status rule of every transport: a request that was not delivered is a transport
// failure; a good SCSI status is 0; any other status gives sense byte 12 << 8 | byte 13
// (so a non-good status with both bytes zero also reads as 0).
CommandStatus StatusFromScsi(bool delivered, uint8_t scsiStatus, const uint8_t* sense);

// Where a drive is: an ASPI-style address (letter '-') or a drive letter
// (address 0.0.0). device is the platform's name for it ("/dev/sr0", ...).
struct DriveAddress {
    uint8_t hostAdapter = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    char letter = '-';
    std::string device;
};

// One command as it crosses into a transport.
struct ScsiCommand {
    uint8_t cdb[12] = {};
    uint8_t cdbLength = 0;
    void* buffer = nullptr;
    uint32_t length = 0;
    uint8_t direction = DirectionNone;
};

// A way of reaching drives. One instance per CDriveControl; used by one thread at a time.
class IScsiTransport {
public:
    virtual ~IScsiTransport() = default;
    // TransportAspi or TransportPassThrough: decides how AddDrive records an address.
    virtual DriveTransport Kind() const = 0;
    // Addresses to probe, in a stable discovery order.
    virtual std::vector<DriveAddress> Candidates(bool cdromOnly) = 0;
    // Makes addr the target of the following commands; false when its device cannot be
    // opened (commands then fail with kStatusTransportFailure).
    virtual bool Open(const DriveAddress& addr) = 0;
    virtual void Close() = 0;
    // Executes one command on the open drive; leaves the sense data in Sense().
    virtual CommandStatus Execute(const ScsiCommand& cmd) = 0;
    // At least kSenseLength bytes, valid until the next Execute.
    virtual const uint8_t* Sense() const = 0;
    // Devices skipped during Candidates() because access was denied.
    virtual int DeniedDevices() const { return 0; }
    // Why this transport cannot reach any drive (e.g. a broken simulator file); empty when fine.
    virtual std::string Problem() const { return {}; }
};

using TransportFactory = std::function<std::unique_ptr<IScsiTransport>()>;

// The platform's own transport (ASPI or pass-through on Windows, SG_IO on Linux).
std::unique_ptr<IScsiTransport> CreatePlatformTransport();

// Replaces the transport that every later-constructed CDriveControl of the process
// uses (tests, the simulator). An empty factory restores the default choice:
// simulated drives when VARNEL_SIMULATE names a drive file, else the platform's.
void SetTransportFactory(TransportFactory factory);

class CDriveControl {
public:
    CDriveControl();
    explicit CDriveControl(std::unique_ptr<IScsiTransport> transport);
    virtual ~CDriveControl();
    CDriveControl(const CDriveControl&) = delete;
    CDriveControl& operator=(const CDriveControl&) = delete;

    CommandStatus SendCommand6(uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3, uint8_t c4,
                               uint8_t c5, void* buffer, uint32_t length, uint8_t direction);
    CommandStatus SendCommand10(uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3, uint8_t c4,
                                uint8_t c5, uint8_t c6, uint8_t c7, uint8_t c8, uint8_t c9,
                                void* buffer, uint32_t length, uint8_t direction);
    const uint8_t* GetSenseData() const;

    bool EnumerateDrives(bool cdromOnly);
    uint8_t GetDriveCount() const;
    void SelectDrive(unsigned index);
    std::string GetVendor(unsigned index) const;
    std::string GetProduct(unsigned index) const;
    std::string GetRevision(unsigned index) const;
    uint8_t GetHostAdapter(unsigned index) const;
    uint8_t GetTarget(unsigned index) const;
    uint8_t GetLun(unsigned index) const;
    char GetDriveLetter(unsigned index) const;

    DriveTransport GetTransport() const { return m_transport; }
    // Devices the last enumeration could not open for lack of permission.
    int GetDeniedDevices() const;
    // The transport's own explanation when it cannot work at all; empty otherwise.
    std::string GetTransportProblem() const;

private:
    struct DriveEntry {
        std::string vendor, product, revision;
        DriveAddress address;
    };
    void AddDrive(const uint8_t* inquiry, const DriveAddress& address);
    bool Probe(const DriveAddress& address);
    CommandStatus Execute(ScsiCommand& cmd);

    DriveTransport m_transport = TransportNone;
    std::unique_ptr<IScsiTransport> m_pTransport;
    std::vector<DriveEntry> m_drives;
    uint8_t m_zeroSense[kSenseLength] = {};
};
