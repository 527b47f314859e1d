// CDriveControl: the one place that talks to drives. Commands go through a
// transport chosen once at construction; the drive list and the identity of
// each drive come from INQUIRY.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum DriveTransport : uint8_t { TransportNone = 0, TransportAspi = 1, TransportPassThrough = 2 };

enum DataDirection : uint8_t { DirectionNone = 0, DirectionIn = 1, DirectionOut = 2 };

// 0 good, 0xFFFF transport failure, otherwise ASC << 8 | ASCQ; kStatusNotCompleted when the
// drive did not complete the command and gave no ASC/ASCQ (BUSY, RESERVATION CONFLICT, TASK
// SET FULL, CHECK CONDITION without sense data or with ASC/ASCQ 00/00). 0xFFFE is an ASC/ASCQ
// pair that no drive uses outside the vendor-specific range, so it stands apart from real ones.
using CommandStatus = uint16_t;
inline constexpr CommandStatus kStatusGood = 0;
inline constexpr CommandStatus kStatusTransportFailure = 0xFFFF;
inline constexpr CommandStatus kStatusNotCompleted = 0xFFFE;

inline constexpr int kSenseLength = 24;

// Time limits: readiness and identification commands (INQUIRY, TEST UNIT READY, START STOP
// UNIT) give up after 30 s; the download commands may take long.
inline constexpr uint32_t kShortTimeoutSeconds = 30;
inline constexpr uint32_t kLongTimeoutSeconds = 1800;

// How a transport saw a command end.
enum class CommandCategory : uint8_t {
    Good,              // good status
    CheckCondition,    // CHECK CONDITION with sense data (fixed format, bytes 12/13 ASC/ASCQ)
    NotExecuted,       // another non-good status, or CHECK CONDITION without sense data
    TransportFailure,  // the request did not reach the drive or got no answer in time
};

// Why a request did not reach the drive, as far as the system tells.
enum class TransportFault : uint8_t {
    Unknown,       // no answer, a time-out, or a reason not told apart
    NotPermitted,  // the system refused the command: the process lacks the privilege
    DeviceGone,    // the device is no longer there (removed, detached)
};

struct TransportResult {
    CommandCategory category = CommandCategory::TransportFailure;
    uint8_t scsiStatus = 0;
    // The system's error code (errno on Linux, GetLastError on Windows) when the system
    // call failed; 0 otherwise.
    uint32_t osError = 0;
    // Of a transport failure: the system's reason, sorted by the platform's transport.
    TransportFault fault = TransportFault::Unknown;
};

// The rule of every transport for a command the drive answered: GOOD is good; CHECK
// CONDITION (or COMMAND TERMINATED) with sense data whose response code is 70-73h is a check
// condition; any other status is not executed. Descriptor-format sense (72h/73h) is rewritten
// in place as fixed format so that bytes 2, 12 and 13 carry key, ASC and ASCQ everywhere.
// sense holds at least kSenseLength bytes, senseValid of them from the drive (kSenseLength
// when the transport cannot tell).
TransportResult ScsiResult(uint8_t scsiStatus, uint8_t* sense, size_t senseValid);
TransportResult TransportFailed(uint32_t osError, TransportFault fault = TransportFault::Unknown);
// The answer of a Linux SG_IO request from its header's status, host_status, driver_status
// and sb_len_wr. The kernel marks every CHECK CONDITION with DRIVER_SENSE (08h), with or
// without sense data: that is the drive's answer. A host adapter failure (DID_*) or a driver
// failure (a time-out among them) is a transport failure (Unknown fault) unless the drive
// answered with a status and sense data.
TransportResult SgIoResult(uint8_t status, uint16_t hostStatus, uint16_t driverStatus,
                           uint8_t senseWritten, uint8_t* sense);

// The numeric status of a result (see CommandStatus); sense as the transport left it.
CommandStatus StatusOf(const TransportResult& result, const uint8_t* sense);

// Where a drive is: an ASPI-style address (letter '-') or a drive letter
// (address 0.0.0). device is the platform's name for it ("/dev/sr0", ...). A drive that the
// system names (Linux) also has its name ("sr0", what /dl= takes) and its full address as
// the system numbers it ("2:0:1:0", host:channel:target:lun); hostAdapter, target and lun
// then keep only its low 8 bits.
struct DriveAddress {
    uint8_t hostAdapter = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    char letter = '-';
    std::string device;
    std::string name;
    std::string fullAddress;
};

// A listed drive as an enumeration saw it: where it is and what it said it is. Handed from
// the target search to each download, which opens exactly this drive.
struct DriveInfo {
    DriveAddress address;
    std::string vendor, product, revision;  // INQUIRY fields as received
    uint8_t customer = 0;                   // 48-byte INQUIRY byte 36, when customerKnown
    bool customerKnown = false;
};

// The addresses an ASPI-style enumeration probes: host adapters 0 to adapters - 1, target ids
// 0 to 7 and LUNs 0 to 3, the adapter outermost.
std::vector<DriveAddress> AspiAddresses(unsigned adapters);

// "D:" for a lettered drive, "sr1 [2:0:1:0]" for a named one, "[h.t.l]" for an addressed one.
std::string AddressText(const DriveAddress& address);
// Whether text names the drive at address: its device name, also with "/dev/" before it,
// in any case ("sr1", "/DEV/SR1").
bool NamesDevice(const std::string& text, const DriveAddress& address);

// "BUSY", "RESERVATION CONFLICT", ... for a SCSI status byte; empty for one without a name.
std::string ScsiStatusName(uint8_t status);

// One command as it crosses into a transport.
struct ScsiCommand {
    uint8_t cdb[12] = {};
    uint8_t cdbLength = 0;
    void* buffer = nullptr;
    uint32_t length = 0;
    uint8_t direction = DirectionNone;
    uint32_t timeoutSeconds = kLongTimeoutSeconds;
};

// A command of cdbLength (6, 10 or 12) CDB bytes; data going out is only read.
ScsiCommand MakeCommand(const uint8_t* cdb, uint8_t cdbLength, const void* buffer, uint32_t length,
                        uint8_t direction);

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
    virtual TransportResult Execute(const ScsiCommand& cmd) = 0;
    // At least kSenseLength bytes, valid until the next Execute.
    virtual const uint8_t* Sense() const = 0;
    // Devices skipped during Candidates() because access was denied.
    virtual int DeniedDevices() const { return 0; }
    // Why this transport cannot reach any drive (e.g. a broken simulator file); empty when fine.
    virtual std::string Problem() const { return {}; }
    // How the system's drives are reached, for people and scripts ("aspi", "pass-through",
    // "sg_io").
    virtual std::string Name() const { return Kind() == TransportAspi ? "aspi" : "pass-through"; }
    // The system lets only a privileged process send every command through this transport
    // (Linux SG_IO: WRITE BUFFER and SEND DIAGNOSTIC need CAP_SYS_RAWIO).
    virtual bool NeedsPrivilege() const { return false; }
    // A second, independent way to the same drives, for another thread (several drives are
    // probed at once); null when the transport has none.
    virtual std::unique_ptr<IScsiTransport> NewChannel() const { return nullptr; }
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

    // A command that ends with UNIT ATTENTION (sense key 6) was not executed: it is sent
    // again, up to kUnitAttentionRepeats times, before its answer counts.
    static constexpr int kUnitAttentionRepeats = 3;

    // Executes one command on the selected drive; scsi_commands.h builds the program's
    // commands. Its time limit follows from the operation code.
    CommandStatus Send(ScsiCommand cmd);
    // The same from CDB bytes.
    CommandStatus SendCommand6(uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3, uint8_t c4,
                               uint8_t c5, void* buffer, uint32_t length, uint8_t direction);
    CommandStatus SendCommand10(uint8_t c0, uint8_t c1, uint8_t c2, uint8_t c3, uint8_t c4,
                                uint8_t c5, uint8_t c6, uint8_t c7, uint8_t c8, uint8_t c9,
                                void* buffer, uint32_t length, uint8_t direction);
    const uint8_t* GetSenseData() const;
    // How the last command ended, with the system's error code of a transport failure.
    const TransportResult& GetLastResult() const { return m_lastResult; }

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

    // The listed drive with its address and identity; an empty value out of range.
    DriveInfo GetDriveInfo(unsigned index) const;
    // Records the customer byte read from a listed drive.
    void SetCustomerCode(unsigned index, uint8_t customer);
    // Makes drive the only listed drive and selects it, without enumerating: the drive that
    // another drive control found. False when its device cannot be opened.
    bool AttachDrive(const DriveInfo& drive);
    // Runs job(index, control) for every listed drive of indexes at the same time, each on a
    // drive control of its own that has that drive selected; returns when all have ended.
    // Without a second channel to the drives they run one after the other on this object.
    // Indexes of no listed drive are left out.
    void ForEachDrive(const std::vector<unsigned>& indexes,
                      const std::function<void(unsigned index, CDriveControl& drive)>& job);

    DriveTransport GetTransport() const { return m_transport; }
    // Devices the last enumeration could not open for lack of permission.
    int GetDeniedDevices() const;
    // The transport's own explanation when it cannot work at all; empty otherwise.
    std::string GetTransportProblem() const;
    // "aspi", "pass-through", "sg_io"; "none" without a transport.
    std::string GetTransportName() const;
    // Firmware commands need a privilege of the process (see IScsiTransport).
    bool NeedsPrivilege() const;

private:
    void AddDrive(const uint8_t* inquiry, const DriveAddress& address);
    bool Probe(uint8_t* inquiry);
    // Another drive control over a new channel of this transport; null without channels.
    std::unique_ptr<CDriveControl> NewChannel() const;

    DriveTransport m_transport = TransportNone;
    std::unique_ptr<IScsiTransport> m_pTransport;
    std::vector<DriveInfo> m_drives;
    TransportResult m_lastResult;
    uint8_t m_zeroSense[kSenseLength] = {};
};
