// CMessageDlg: a message text with an OK button (template 137).
#pragma once

#include <string>

#include "ui/dialog_base.h"

inline constexpr int IDD_MESSAGE = 137;
inline constexpr int IDC_MESSAGE_TEXT = 1034;

class CMessageDlg : public CDialogBase {
public:
    CMessageDlg();

    std::string m_strMessage;
};
