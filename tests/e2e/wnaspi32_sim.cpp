// A WNASPI32.DLL for the end-to-end tests: the ASPI interface over the simulated drives of
// the drive file named by VARNEL_ASPI_DRIVES (a file with ASPI addresses). The program
// under test reaches it through its ASPI transport; the simulator's journal shows what
// arrived.
//
// Requests complete before SendASPI32Command returns; with event notification the call
// still answers SS_PENDING (after signalling the event), as an ASPI manager that finished
// quickly would, so that the caller's wait is exercised.
#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "drive/aspi_win32.h"
#include "drive/simulator.h"

namespace {

using namespace aspi;

constexpr BYTE SS_ABORTED = 0x02;
constexpr BYTE SS_INVALID_SRB = 0xE0;
constexpr BYTE SS_NO_ADAPTERS = 0xE8;
constexpr BYTE HASTAT_SEL_TO = 0x11;

struct Drives {
    std::shared_ptr<CDriveSimulator> sim;
    std::set<std::string> present;  // "h.t.l" of every drive
    unsigned adapters = 0;
};

const Drives& TheDrives() {
    static Drives drives;
    static std::once_flag once;
    std::call_once(once, [] {
        const char* path = std::getenv("VARNEL_ASPI_DRIVES");
        if (path == nullptr)
            return;
        std::string error;
        drives.sim = OpenSimulator(path, &error);
        if (!drives.sim)
            return;
        for (const SimulatedDriveState& s : SimulatorSnapshot(*drives.sim))
            drives.present.insert(s.id);
        for (const DriveAddress& a : CreateSimulatorTransport(drives.sim)->Candidates(false)) {
            if (a.hostAdapter + 1u > drives.adapters)
                drives.adapters = a.hostAdapter + 1u;
        }
    });
    return drives;
}

BYTE Execute(SrbExecScsiCmd* srb) {
    const Drives& drives = TheDrives();
    const std::string id = std::to_string(srb->SRB_HaId) + "." + std::to_string(srb->SRB_Target) +
                           "." + std::to_string(srb->SRB_Lun);
    std::memset(srb->SenseArea, 0, sizeof srb->SenseArea);
    srb->SRB_HaStat = 0;
    srb->SRB_TargStat = 0;
    if (!drives.sim || srb->SRB_HaId >= drives.adapters)
        return SS_INVALID_SRB;
    if (drives.present.count(id) == 0) {
        srb->SRB_HaStat = HASTAT_SEL_TO;  // nobody answers at this address
        return SS_ERR;
    }
    std::unique_ptr<IScsiTransport> transport = CreateSimulatorTransport(drives.sim);
    DriveAddress address;
    address.hostAdapter = srb->SRB_HaId;
    address.target = srb->SRB_Target;
    address.lun = srb->SRB_Lun;
    if (!transport->Open(address))
        return SS_ABORTED;
    ScsiCommand cmd;
    std::memcpy(cmd.cdb, srb->CDBByte, sizeof cmd.cdb);
    cmd.cdbLength = srb->SRB_CDBLen;
    cmd.buffer = srb->SRB_BufPointer;
    cmd.length = srb->SRB_BufLen;
    cmd.direction = (srb->SRB_Flags & SRB_DIR_IN)    ? DirectionIn
                    : (srb->SRB_Flags & SRB_DIR_OUT) ? DirectionOut
                                                     : DirectionNone;
    const TransportResult result = transport->Execute(cmd);
    if (result.category == CommandCategory::Good)
        return SS_COMP;
    if (result.category == CommandCategory::TransportFailure)
        return SS_ABORTED;
    // The target's status, with the sense data of a CHECK CONDITION (none for the others).
    const size_t senseLength =
        srb->SRB_SenseLen < sizeof srb->SenseArea ? srb->SRB_SenseLen : sizeof srb->SenseArea;
    if (result.category == CommandCategory::CheckCondition) {
        std::memcpy(srb->SenseArea, transport->Sense(),
                    senseLength < static_cast<size_t>(kSenseLength) ? senseLength : kSenseLength);
    }
    srb->SRB_TargStat = result.scsiStatus;
    return SS_ERR;
}

}  // namespace

extern "C" __declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo() {
    const Drives& drives = TheDrives();
    if (!drives.sim)
        return static_cast<DWORD>(SS_NO_ADAPTERS) << 8;
    return static_cast<DWORD>(SS_COMP) << 8 | (drives.adapters & 0xFF);
}

extern "C" __declspec(dllexport) DWORD __cdecl SendASPI32Command(void* request) {
    auto* srb = static_cast<SrbExecScsiCmd*>(request);
    if (srb == nullptr)
        return SS_INVALID_SRB;
    if (srb->SRB_Cmd != SC_EXEC_SCSI_CMD) {
        srb->SRB_Status = SS_INVALID_SRB;
        return SS_INVALID_SRB;
    }
    srb->SRB_Status = Execute(srb);
    if ((srb->SRB_Flags & SRB_EVENT_NOTIFY) && srb->SRB_PostProc != nullptr) {
        SetEvent(static_cast<HANDLE>(srb->SRB_PostProc));
        return SS_PENDING;
    }
    return srb->SRB_Status;
}
