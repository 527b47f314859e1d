#include "ui/dialog_base.h"

CDialogBase::CDialogBase(int templateId) : m_nTemplateId(templateId) {}

CDialogBase::~CDialogBase() = default;

int CDialogBase::DoModal(IWindowFactory& factory, CDialogBase* parent) {
    IDialogWindow* parentWindow = parent != nullptr ? parent->m_pWindow : nullptr;
    std::shared_ptr<IDialogWindow> window =
        factory.CreateDialogWindow(m_nTemplateId, *this, parentWindow);
    if (!window)
        return -1;
    m_pFactory = &factory;
    m_pWindow = window.get();
    m_bEnded = false;
    m_nResult = 0;
    const int result = window->RunModal();
    m_pWindow = nullptr;
    return m_bEnded ? m_nResult : result;
}

bool CDialogBase::UpdateData(bool saveAndValidate) {
    if (m_pWindow == nullptr)
        return false;
    const bool wasExchanging = m_bExchanging;
    m_bExchanging = true;
    for (const Binding& b : m_bindings) {
        switch (b.kind) {
            case BindKind::Text: {
                auto* s = static_cast<std::string*>(b.member);
                if (saveAndValidate) {
                    *s = m_pWindow->GetItemText(b.id);
                } else {
                    m_pWindow->SetItemText(b.id, *s);
                }
                break;
            }
            case BindKind::Check: {
                auto* f = static_cast<bool*>(b.member);
                if (saveAndValidate) {
                    *f = m_pWindow->GetCheck(b.id);
                } else {
                    m_pWindow->SetCheck(b.id, *f);
                }
                break;
            }
            case BindKind::ListIndex: {
                auto* n = static_cast<int*>(b.member);
                if (saveAndValidate) {
                    *n = m_pWindow->ListGetSel(b.id);
                } else {
                    m_pWindow->ListSetSel(b.id, *n);
                }
                break;
            }
        }
    }
    m_bExchanging = wasExchanging;
    return true;
}

void CDialogBase::EndDialog(int result) {
    if (m_bEnded)
        return;
    m_bEnded = true;
    m_nResult = result;
    if (m_pWindow != nullptr)
        m_pWindow->EndDialog(result);
}

bool CDialogBase::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialogBase::OnCommand(int id, int notify) {
    if (notify != kNotifyClicked)
        return;
    if (id == kIdOk) {
        OnOK();
    } else if (id == kIdCancel) {
        OnCancel();
    }
}

bool CDialogBase::OnSysCommand(unsigned) {
    return false;
}

void CDialogBase::OnShowWindow() {}

bool CDialogBase::OnWindowPosChanging(bool show) {
    return show;
}

void CDialogBase::OnDropFiles(const std::vector<std::string>&) {}

void CDialogBase::OnOK() {
    UpdateData(true);
    EndDialog(kIdOk);
}

void CDialogBase::OnCancel() {
    EndDialog(kIdCancel);
}

void CDialogBase::BindText(int id, std::string* member) {
    m_bindings.push_back({id, BindKind::Text, member});
}

void CDialogBase::BindCheck(int id, bool* member) {
    m_bindings.push_back({id, BindKind::Check, member});
}

void CDialogBase::BindListIndex(int id, int* member) {
    m_bindings.push_back({id, BindKind::ListIndex, member});
}
