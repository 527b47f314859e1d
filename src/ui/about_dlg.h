// CAboutDlg: the about box (template 100). The copyright line (control 1030) is hidden
// when the package asks for it.
#pragma once

#include "base/version.h"
#include "ui/dialog_base.h"

inline constexpr int IDD_ABOUT = 100;
inline constexpr int IDC_COPYRIGHT = 1030;

// Fixed texts of the about box.
inline constexpr char kAboutVersionLine[] = "Varnel engine Version " VARNEL_VERSION;
inline constexpr char kAboutCopyright[] = "Copyright (C) The Varnel developers";

class CAboutDlg : public CDialogBase {
public:
    CAboutDlg();
    bool OnInitDialog() override;

    bool m_bHideCopyright = false;
};
