// CDialogBase: dialog logic apart from any widget toolkit.
//
// Writing a dialog:
//   class CMyDlg : public CDialogBase {
//   public:
//       CMyDlg() : CDialogBase(kTemplateId) {
//           BindText(1000, &m_strPath);     // member <-> control 1000
//           BindCheck(1029, &m_bOption);
//       }
//   protected:
//       bool OnInitDialog() override {      // window exists, controls are empty
//           CDialogBase::OnInitDialog();   // copies members into controls
//           Window().ListAdd(1023, "entry");
//           return true;
//       }
//       void OnCommand(int id, int notify) override {
//           if (id == 3 && notify == kNotifyClicked) { OnLoad(); return; }
//           CDialogBase::OnCommand(id, notify);  // 1 -> OnOK, 2 -> OnCancel
//       }
//   };
//   CMyDlg dlg;  int result = dlg.DoModal(factory);
//
// The dialog talks only to IDialogWindow (dialog_window.h); the window is created by
// an IWindowFactory for each DoModal and exists only while it runs. UpdateData(false)
// copies the bound members into the controls, UpdateData(true) the controls into the
// members; edit-change notifications that arrive while either copy runs are swallowed
// (IsExchanging()). EndDialog ends the run; the first request decides the result.
// Modal children run with child.DoModal(Factory(), this). Commands posted with
// PostCommand reach OnCommand from the window's message loop; PumpMessage dispatches
// one message (used by long operations that must keep the window alive).
#pragma once

#include <string>
#include <vector>

#include "ui/dialog_window.h"

class CDialogBase : public IDialogEvents {
public:
    explicit CDialogBase(int templateId);
    ~CDialogBase() override;
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    // Runs the dialog modally in a window made by factory; returns the end result.
    int DoModal(IWindowFactory& factory, CDialogBase* parent = nullptr);

    int GetTemplateId() const { return m_nTemplateId; }
    // True while DoModal runs.
    bool IsRunning() const { return m_pWindow != nullptr; }
    bool IsEnded() const { return m_bEnded; }

    // saveAndValidate true: controls -> members; false: members -> controls.
    bool UpdateData(bool saveAndValidate = true);
    // Ends the modal run with result; later requests are ignored.
    void EndDialog(int result);

    // IDialogEvents defaults.
    bool OnInitDialog() override;
    void OnCommand(int id, int notify) override;
    bool OnSysCommand(unsigned id) override;
    void OnShowWindow() override;
    bool OnWindowPosChanging(bool show) override;
    void OnDropFiles(const std::vector<std::string>& files) override;

protected:
    virtual void OnOK();      // takes the control values, ends with kIdOk
    virtual void OnCancel();  // ends with kIdCancel

    void BindText(int id, std::string* member);
    void BindCheck(int id, bool* member);
    // Selected index of a list (-1 none).
    void BindListIndex(int id, int* member);

    // The window of the running dialog (valid only while IsRunning()).
    IDialogWindow& Window() { return *m_pWindow; }
    IWindowFactory& Factory() { return *m_pFactory; }
    bool IsExchanging() const { return m_bExchanging; }

    // Shorthands for the window's controls.
    void SetItemText(int id, const std::string& text) { m_pWindow->SetItemText(id, text); }
    std::string GetItemText(int id) { return m_pWindow->GetItemText(id); }
    void EnableItem(int id, bool enable) { m_pWindow->EnableItem(id, enable); }
    bool IsItemEnabled(int id) { return m_pWindow->IsItemEnabled(id); }
    int MessageBox(const std::string& text, const std::string& caption, unsigned style) {
        return m_pWindow->ShowMessageBox(text, caption, style);
    }

private:
    enum class BindKind { Text, Check, ListIndex };
    struct Binding {
        int id;
        BindKind kind;
        void* member;
    };

    int m_nTemplateId;
    std::vector<Binding> m_bindings;
    IDialogWindow* m_pWindow = nullptr;
    IWindowFactory* m_pFactory = nullptr;
    bool m_bEnded = false;
    int m_nResult = 0;
    bool m_bExchanging = false;
};
