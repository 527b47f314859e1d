#include "ui/message_dlg.h"

CMessageDlg::CMessageDlg() : CDialogBase(IDD_MESSAGE) {
    BindText(IDC_MESSAGE_TEXT, &m_strMessage);
}
