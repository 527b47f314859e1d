// The ASPI interface's SRB_ExecSCSICmd request and its constants, shared by the ASPI
// transport and the test ASPI layer.
#pragma once

#include <windows.h>

#include <cstddef>

namespace aspi {

// SRB_ExecSCSICmd of the ASPI interface: the 64-byte request block (32-bit layout) followed by
// a 44-byte sense area.
#pragma pack(push, 1)
struct SrbExecScsiCmd {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    WORD SRB_Rsvd1;
    DWORD SRB_BufLen;
    BYTE* SRB_BufPointer;
    BYTE SRB_SenseLen;
    BYTE SRB_CDBLen;
    BYTE SRB_HaStat;
    BYTE SRB_TargStat;
    void* SRB_PostProc;
    void* SRB_Rsvd2;
    BYTE SRB_Rsvd3[16];
    BYTE CDBByte[16];
    BYTE SenseArea[44];
};
#pragma pack(pop)
// The layout of every ASPI layer (all are 32-bit): 64-byte block, sense area at 64, 108 in all.
static_assert(sizeof(void*) != 4 ||
                  (offsetof(SrbExecScsiCmd, SRB_BufLen) == 12 &&
                   offsetof(SrbExecScsiCmd, SRB_BufPointer) == 16 &&
                   offsetof(SrbExecScsiCmd, SRB_SenseLen) == 20 &&
                   offsetof(SrbExecScsiCmd, SRB_PostProc) == 24 &&
                   offsetof(SrbExecScsiCmd, CDBByte) == 48 &&
                   offsetof(SrbExecScsiCmd, SenseArea) == 64 && sizeof(SrbExecScsiCmd) == 108),
              "32-bit ASPI request layout");
static_assert(offsetof(SrbExecScsiCmd, CDBByte) == 36 + 3 * sizeof(void*), "ASPI request layout");

constexpr BYTE SC_EXEC_SCSI_CMD = 0x02;
constexpr BYTE SS_PENDING = 0x00;
constexpr BYTE SS_COMP = 0x01;
constexpr BYTE SS_ERR = 0x04;
constexpr BYTE SRB_DIR_IN = 0x08;
constexpr BYTE SRB_DIR_OUT = 0x10;
constexpr BYTE SRB_EVENT_NOTIFY = 0x40;

}  // namespace aspi
