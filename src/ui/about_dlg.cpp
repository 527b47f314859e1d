#include "ui/about_dlg.h"

CAboutDlg::CAboutDlg() : CDialogBase(IDD_ABOUT) {}

bool CAboutDlg::OnInitDialog() {
    CDialogBase::OnInitDialog();
    SetItemText(IDC_COPYRIGHT, kAboutCopyright);
    Window().ShowItem(IDC_COPYRIGHT, !m_bHideCopyright);
    return true;
}
