// Windows transports: the ASPI layer (WNASPI32) on the Windows 95 family, SCSI pass-through on
// drive-letter device handles everywhere else.
//
// VARNEL_FORCE_ASPI=1 in the environment makes the transport choice behave as on the Windows 95
// family (try WNASPI32 whatever the platform id), so that tests can reach the ASPI path.
#include <windows.h>

#include <winioctl.h>

#include <ntddscsi.h>  // needs the types of the two above

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/environment.h"
#include "drive/aspi_win32.h"
#include "drive/drive_control.h"
#include "drive/scsi_commands.h"

namespace {

using namespace aspi;

constexpr BYTE kSenseRequest = 24;
constexpr BYTE kCheckCondition = 0x02;

using GetSupportInfoFn = DWORD(__cdecl*)();
using SendCommandFn = DWORD(__cdecl*)(void*);

// GetProcAddress answers a generic function pointer; void (*)() converts to any other.
template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
    const FARPROC proc = GetProcAddress(module, name);
    return proc ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc)) : nullptr;
}

// The system's reason for a failed device call.
TransportFault FaultOf(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_PRIVILEGE_NOT_HELD:
            return TransportFault::NotPermitted;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED:
            return TransportFault::DeviceGone;
        default:
            return TransportFault::Unknown;
    }
}

TransportResult Failed(DWORD error) {
    return TransportFailed(error, FaultOf(error));
}

constexpr BYTE SC_ABORT_SRB = 0x03;
// How long an aborted request may take to come back before its request block is given up.
constexpr DWORD kAbortWaitMs = 10000;

// SRB_Abort of the ASPI interface.
#pragma pack(push, 1)
struct SrbAbort {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};
#pragma pack(pop)

class AspiTransport : public IScsiTransport {
public:
    AspiTransport(HMODULE library, SendCommandFn send, uint8_t adapters)
        : m_library(library), m_send(send), m_adapters(adapters), m_srb(new SrbExecScsiCmd()) {}
    ~AspiTransport() override {
        // A request that never came back may still be written by the ASPI layer: its block
        // is left to it, and so is its event.
        if (m_stuck)
            static_cast<void>(m_srb.release());
        FreeLibrary(m_library);
    }

    DriveTransport Kind() const override { return TransportAspi; }

    std::vector<DriveAddress> Candidates(bool /*cdromOnly*/) override {
        return AspiAddresses(m_adapters);
    }

    bool Open(const DriveAddress& addr) override {
        m_host = addr.hostAdapter;
        m_target = addr.target;
        m_lun = addr.lun;
        return true;
    }
    void Close() override {}

    TransportResult Execute(const ScsiCommand& cmd) override {
        SrbExecScsiCmd& srb = *m_srb;
        if (m_stuck) {
            std::memset(m_zeroSense, 0, sizeof m_zeroSense);
            return TransportFailed(0);
        }
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (event == nullptr)
            return TransportFailed(GetLastError());
        std::memset(&srb, 0, sizeof srb);
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_HaId = m_host;
        srb.SRB_Target = m_target;
        srb.SRB_Lun = m_lun;
        BYTE flags = SRB_EVENT_NOTIFY;
        if (cmd.direction == DirectionIn)
            flags |= SRB_DIR_IN;
        if (cmd.direction == DirectionOut)
            flags |= SRB_DIR_OUT;
        srb.SRB_Flags = flags;
        srb.SRB_BufLen = cmd.length;
        srb.SRB_BufPointer = static_cast<BYTE*>(cmd.buffer);
        srb.SRB_SenseLen = kSenseRequest;
        srb.SRB_CDBLen = cmd.cdbLength;
        srb.SRB_PostProc = event;
        std::memcpy(srb.CDBByte, cmd.cdb, sizeof cmd.cdb);

        ResetEvent(event);
        if (m_send(&srb) == SS_PENDING &&
            WaitForSingleObject(event, cmd.timeoutSeconds * 1000u) != WAIT_OBJECT_0) {
            // No answer in time: ask the layer to abort the request and wait for it to come
            // back; one that does not is never reused.
            SrbAbort abort = {};
            abort.SRB_Cmd = SC_ABORT_SRB;
            abort.SRB_HaId = m_host;
            abort.SRB_ToAbort = &srb;
            m_send(&abort);
            if (WaitForSingleObject(event, kAbortWaitMs) != WAIT_OBJECT_0 ||
                srb.SRB_Status == SS_PENDING) {
                m_stuck = true;  // the layer keeps the request block and its event
            } else {
                CloseHandle(event);
            }
            return TransportFailed(WAIT_TIMEOUT);
        }
        CloseHandle(event);

        if (srb.SRB_Status == SS_COMP)
            return ScsiResult(0, srb.SenseArea, kSenseLength);
        if (srb.SRB_Status != SS_ERR)
            return TransportFailed(0);
        // SS_ERR: the target's status with the sense data of an automatic REQUEST SENSE. A
        // host adapter error without any word from the target never reached the drive.
        const bool senseData =
            scsi::IsFixedSense(srb.SenseArea) || scsi::IsDescriptorSense(srb.SenseArea);
        if (srb.SRB_TargStat == 0 && !senseData && srb.SRB_HaStat != 0)
            return TransportFailed(0);
        const BYTE status = srb.SRB_TargStat != 0 ? srb.SRB_TargStat : kCheckCondition;
        return ScsiResult(status, srb.SenseArea, kSenseLength);
    }

    const uint8_t* Sense() const override { return m_stuck ? m_zeroSense : m_srb->SenseArea; }

    std::unique_ptr<IScsiTransport> NewChannel() const override {
        // The same library once more (its reference count keeps it loaded for this channel).
        char path[MAX_PATH];
        const DWORD n = GetModuleFileNameA(m_library, path, sizeof path);
        HMODULE again = n > 0 && n < sizeof path ? LoadLibraryA(path) : nullptr;
        if (again == nullptr)
            return nullptr;
        return std::make_unique<AspiTransport>(again, m_send, m_adapters);
    }

private:
    HMODULE m_library;
    SendCommandFn m_send;
    uint8_t m_adapters;
    uint8_t m_host = 0, m_target = 0, m_lun = 0;
    std::unique_ptr<SrbExecScsiCmd> m_srb;
    bool m_stuck = false;
    uint8_t m_zeroSense[kSenseLength] = {};
};

// The pass-through request: the structure, padding, and the sense buffer behind it. The same
// buffer is input and output of the device control call.
struct PassThroughRequest {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;
    UCHAR sense[32];
};
// The 32-bit layout: a 44-byte SCSI_PASS_THROUGH_DIRECT, the sense buffer at offset 48, 80 bytes
// in all. The 64-bit structure is 56 bytes (an 8-byte DataBuffer), and the sense follows at 60.
static_assert(sizeof(void*) != 4 ||
                  (sizeof(SCSI_PASS_THROUGH_DIRECT) == 44 &&
                   offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20 &&
                   offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28 &&
                   offsetof(PassThroughRequest, sense) == 48 && sizeof(PassThroughRequest) == 80),
              "32-bit pass-through request layout");
static_assert(sizeof(void*) != 8 || (sizeof(SCSI_PASS_THROUGH_DIRECT) == 56 &&
                                     offsetof(PassThroughRequest, sense) == 60),
              "64-bit pass-through request layout");

class PassThroughTransport : public IScsiTransport {
public:
    ~PassThroughTransport() override { Close(); }

    DriveTransport Kind() const override { return TransportPassThrough; }

    std::vector<DriveAddress> Candidates(bool cdromOnly) override {
        std::vector<DriveAddress> out;
        char roots[256] = {};
        const DWORD used = GetLogicalDriveStringsA(sizeof roots, roots);
        if (used == 0 || used >= sizeof roots)
            return out;
        for (size_t i = 0; i + 4 <= sizeof roots && roots[i] != '\0'; i += 4) {
            const char* root = roots + i;
            if (cdromOnly && GetDriveTypeA(root) != DRIVE_CDROM)
                continue;
            const char letter = root[0];
            if (letter == 'A' || letter == 'C')
                continue;
            DriveAddress a;
            a.letter = letter;
            a.device = std::string("\\\\.\\") + letter + ":";
            out.push_back(a);
        }
        return out;
    }

    bool Open(const DriveAddress& addr) override {
        Close();
        const std::string name = std::string("\\\\.\\") + addr.letter + ":";
        m_handle =
            CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        m_openError = m_handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        return m_handle != INVALID_HANDLE_VALUE;
    }

    void Close() override {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }

    TransportResult Execute(const ScsiCommand& cmd) override {
        UCHAR dataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
        void* buffer = nullptr;
        if (cmd.direction == DirectionIn) {
            dataIn = SCSI_IOCTL_DATA_IN;
            buffer = cmd.buffer;
        } else if (cmd.direction == DirectionOut) {
            dataIn = SCSI_IOCTL_DATA_OUT;
            buffer = cmd.buffer;
        }
        std::memset(&m_request, 0, sizeof m_request);
        SCSI_PASS_THROUGH_DIRECT& s = m_request.sptd;
        s.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
        s.CdbLength = cmd.cdbLength;
        s.SenseInfoLength = kSenseRequest;
        s.DataIn = dataIn;
        s.DataTransferLength = cmd.length;
        s.TimeOutValue = cmd.timeoutSeconds;
        s.DataBuffer = buffer;
        s.SenseInfoOffset = offsetof(PassThroughRequest, sense);
        std::memcpy(s.Cdb, cmd.cdb, sizeof cmd.cdb);

        if (m_handle == INVALID_HANDLE_VALUE)
            return Failed(m_openError);
        DWORD returned = 0;
        if (!DeviceIoControl(m_handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &m_request, sizeof m_request,
                             &m_request, sizeof m_request, &returned, nullptr)) {
            return Failed(GetLastError());
        }
        // SenseInfoLength comes back as the number of sense bytes the drive returned.
        return ScsiResult(s.ScsiStatus, m_request.sense,
                          s.SenseInfoLength < kSenseRequest ? s.SenseInfoLength : kSenseRequest);
    }

    const uint8_t* Sense() const override { return m_request.sense; }

    std::unique_ptr<IScsiTransport> NewChannel() const override {
        return std::make_unique<PassThroughTransport>();
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    DWORD m_openError = 0;
    PassThroughRequest m_request = {};
};

bool ForceAspi() {
    return EnvironmentSetting("VARNEL_FORCE_ASPI") == "1";
}

}  // namespace

std::unique_ptr<IScsiTransport> CreatePlatformTransport() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const BOOL known = GetVersionExA(&version);
#pragma GCC diagnostic pop
    const bool win95Family = known && (version.dwPlatformId == VER_PLATFORM_WIN32s ||
                                       version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS);
    if (win95Family || ForceAspi()) {
        HMODULE library = LoadLibraryA("WNASPI32");
        if (library != nullptr) {
            const auto info = Resolve<GetSupportInfoFn>(library, "GetASPI32SupportInfo");
            const auto send = Resolve<SendCommandFn>(library, "SendASPI32Command");
            if (info != nullptr && send != nullptr) {
                const DWORD support = info();
                if (((support >> 8) & 0xFF) == SS_COMP) {
                    return std::make_unique<AspiTransport>(library, send,
                                                           static_cast<uint8_t>(support & 0xFF));
                }
            }
            FreeLibrary(library);
        }
    }
    return std::make_unique<PassThroughTransport>();
}
