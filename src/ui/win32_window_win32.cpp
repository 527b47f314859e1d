// Win32 dialog windows: modal dialogs from the module's templates, driven by the dialog
// logic through IDialogWindow. The modal loop is our own (like the framework's), so that
// long operations can keep the window alive with PumpMessage.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "ui/win32_window.h"

namespace {

HINSTANCE Module() {
    return GetModuleHandleA(nullptr);
}

// The shutdown block of SetWin32ShutdownBlock and the dialog windows it applies to.
struct ShutdownBlock {
    bool active = false;
    std::wstring reason;
    std::vector<HWND> windows;
};

ShutdownBlock& Block() {
    static ShutdownBlock block;
    return block;
}

int CALLBACK FoundFont(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FontInstalled(const wchar_t* face) {
    LOGFONTW wanted = {};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &wanted, FoundFont, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, dc);
    return found;
}

BOOL CALLBACK SetControlFont(HWND control, LPARAM font) {
    SendMessageW(control, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
    return TRUE;
}

// The shutdown reason calls came with Vista; they are looked up at run time so that the program
// still starts on XP, where the refusal of WM_QUERYENDSESSION alone holds the shutdown off.
struct ShutdownReasonCalls {
    BOOL(WINAPI* create)(HWND, LPCWSTR) = nullptr;
    BOOL(WINAPI* destroy)(HWND) = nullptr;
};

const ShutdownReasonCalls& ReasonCalls() {
    static const ShutdownReasonCalls calls = [] {
        ShutdownReasonCalls found;
        HMODULE user32 = GetModuleHandleA("user32.dll");
        if (user32 == nullptr)
            return found;
        // GetProcAddress answers a generic function pointer; void (*)() converts to any other.
        const auto resolve = [user32](const char* name) {
            return reinterpret_cast<void (*)()>(GetProcAddress(user32, name));
        };
        found.create =
            reinterpret_cast<decltype(found.create)>(resolve("ShutdownBlockReasonCreate"));
        found.destroy =
            reinterpret_cast<decltype(found.destroy)>(resolve("ShutdownBlockReasonDestroy"));
        return found;
    }();
    return calls;
}

void ApplyShutdownBlock(HWND hwnd) {
    const ShutdownBlock& block = Block();
    const ShutdownReasonCalls& calls = ReasonCalls();
    if (block.active) {
        if (calls.create != nullptr)
            calls.create(hwnd, block.reason.c_str());
    } else if (calls.destroy != nullptr) {
        calls.destroy(hwnd);
    }
}

// Multi-line edit controls break lines only at CR LF.
std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

std::string WindowText(HWND hwnd) {
    if (hwnd == nullptr)
        return std::string();
    const int length = GetWindowTextLengthA(hwnd);
    if (length <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    const int got = GetWindowTextA(hwnd, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

bool IsMultiLineEdit(HWND control) {
    char cls[16] = {};
    GetClassNameA(control, cls, sizeof cls);
    return lstrcmpiA(cls, "Edit") == 0 &&
           (GetWindowLongPtrA(control, GWL_STYLE) & ES_MULTILINE) != 0;
}

class CWin32Window : public IDialogWindow {
public:
    CWin32Window(int templateId, IDialogEvents& events, CWin32Window* parent)
        : m_nTemplateId(templateId), m_events(events), m_pParent(parent) {
        m_wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }

    ~CWin32Window() override {
        if (m_hwnd != nullptr) {
            std::vector<HWND>& blocked = Block().windows;
            blocked.erase(std::remove(blocked.begin(), blocked.end(), m_hwnd), blocked.end());
            DestroyWindow(m_hwnd);
        }
        FreeImages();
        if (m_wake != nullptr)
            CloseHandle(m_wake);
    }

    CWin32Window(const CWin32Window&) = delete;
    CWin32Window& operator=(const CWin32Window&) = delete;

    int RunModal() override {
        HWND owner = m_pParent != nullptr ? m_pParent->m_hwnd : nullptr;
        bool ownerDisabled = false;
        if (owner != nullptr && IsWindowEnabled(owner)) {
            EnableWindow(owner, FALSE);
            ownerDisabled = true;
        }
        const HWND hwnd =
            CreateDialogParamA(Module(), MAKEINTRESOURCEA(m_nTemplateId), owner,
                               &CWin32Window::DialogProc, reinterpret_cast<LPARAM>(this));
        if (hwnd == nullptr) {
            if (ownerDisabled)
                EnableWindow(owner, TRUE);
            return -1;
        }
        if (!m_bEnded) {
            ShowWindow(hwnd, SW_SHOWNORMAL);
            UpdateWindow(hwnd);
        }
        while (!m_bEnded) {
            MSG msg;
            const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
            if (got == 0) {
                // WM_QUIT: end the dialog and leave the message for the loop outside.
                PostQuitMessage(static_cast<int>(msg.wParam));
                if (!m_bEnded) {
                    m_bEnded = true;
                    m_nResult = kIdCancel;
                }
                break;
            }
            if (got < 0)
                break;
            Dispatch(msg);
        }
        // Re-enable the owner first, so that it becomes the active window again.
        if (ownerDisabled)
            EnableWindow(owner, TRUE);
        ShowWindow(hwnd, SW_HIDE);
        std::vector<HWND>& blocked = Block().windows;
        blocked.erase(std::remove(blocked.begin(), blocked.end(), hwnd), blocked.end());
        DestroyWindow(hwnd);
        m_hwnd = nullptr;
        FreeImages();
        return m_nResult;
    }

    void EndDialog(int result) override {
        if (m_bEnded)
            return;
        m_bEnded = true;
        m_nResult = result;
        // Wakes the modal loop when the request comes from outside a message.
        if (m_hwnd != nullptr)
            PostMessageA(m_hwnd, WM_NULL, 0, 0);
    }

    void SetItemText(int id, const std::string& text) override {
        HWND control = Item(id);
        if (control == nullptr)
            return;
        std::string shown = text;
        if (IsMultiLineEdit(control)) {
            shown = WithCrLf(text);
            if (shown != text) {
                m_original[id] = text;
            } else {
                m_original.erase(id);
            }
        }
        // Like the framework: an unchanged text is not set again (no flicker, no change
        // notification).
        if (WindowText(control) != shown)
            SetWindowTextA(control, shown.c_str());
    }

    std::string GetItemText(int id) override {
        HWND control = Item(id);
        std::string text = WindowText(control);
        auto it = m_original.find(id);
        if (it != m_original.end() && WithCrLf(it->second) == text)
            return it->second;
        return text;
    }

    void EnableItem(int id, bool enable) override {
        if (HWND control = Item(id))
            EnableWindow(control, enable ? TRUE : FALSE);
    }

    bool IsItemEnabled(int id) override {
        HWND control = Item(id);
        return control != nullptr && IsWindowEnabled(control);
    }

    void ShowItem(int id, bool show) override {
        if (HWND control = Item(id))
            ShowWindow(control, show ? SW_SHOW : SW_HIDE);
    }

    void SetCheck(int id, bool checked) override {
        if (m_hwnd != nullptr)
            CheckDlgButton(m_hwnd, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }

    bool GetCheck(int id) override {
        return m_hwnd != nullptr && IsDlgButtonChecked(m_hwnd, id) == BST_CHECKED;
    }

    int ListAdd(int id, const std::string& text) override {
        return ListResult(Send(id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
    }

    int ListInsert(int id, int index, const std::string& text) override {
        return ListResult(Send(id, CB_INSERTSTRING, static_cast<WPARAM>(index),
                               reinterpret_cast<LPARAM>(text.c_str())));
    }

    void ListDelete(int id, int index) override {
        Send(id, CB_DELETESTRING, static_cast<WPARAM>(index), 0);
    }

    void ListReset(int id) override { Send(id, CB_RESETCONTENT, 0, 0); }

    std::string ListGetText(int id, int index) override {
        const LRESULT length = Send(id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length < 0)
            return std::string();
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        const LRESULT got = Send(id, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                 reinterpret_cast<LPARAM>(buffer.data()));
        if (got < 0)
            return std::string();
        return std::string(buffer.data(), static_cast<size_t>(got) <= static_cast<size_t>(length)
                                              ? static_cast<size_t>(got)
                                              : static_cast<size_t>(length));
    }

    int ListGetCount(int id) override { return ListResult(Send(id, CB_GETCOUNT, 0, 0)); }

    void ListSetSel(int id, int index) override {
        Send(id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }

    int ListGetSel(int id) override { return ListResult(Send(id, CB_GETCURSEL, 0, 0)); }

    void SetTitle(const std::string& title) override {
        if (m_hwnd != nullptr)
            SetWindowTextA(m_hwnd, title.c_str());
    }

    void SetIcon(int iconId, bool big) override {
        if (m_hwnd == nullptr)
            return;
        const int size = big ? GetSystemMetrics(SM_CXICON) : 16;
        HICON icon = static_cast<HICON>(LoadImageA(Module(), MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                                   size, size, LR_DEFAULTCOLOR));
        if (icon == nullptr)
            return;
        SendMessageA(m_hwnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                     reinterpret_cast<LPARAM>(icon));
        HICON& slot = big ? m_bigIcon : m_smallIcon;
        if (slot != nullptr)
            DestroyIcon(slot);
        slot = icon;
    }

    void SetButtonBitmap(int id, int bitmapId) override {
        HBITMAP& bitmap = m_bitmaps[bitmapId];
        if (bitmap == nullptr) {
            // The pictures' light grey becomes the system's button face.
            bitmap = static_cast<HBITMAP>(LoadImageA(Module(), MAKEINTRESOURCEA(bitmapId),
                                                     IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
        }
        if (bitmap != nullptr)
            Send(id, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
    }

    void SetDefaultButton(int id) override {
        if (m_hwnd != nullptr)
            SendMessageA(m_hwnd, DM_SETDEFID, static_cast<WPARAM>(id), 0);
    }

    void AppendSystemMenuItem(unsigned id, const std::string& text) override {
        HMENU menu = m_hwnd != nullptr ? GetSystemMenu(m_hwnd, FALSE) : nullptr;
        if (menu == nullptr)
            return;
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(menu, MF_STRING, id, text.c_str());
    }

    void AcceptFiles(bool accept) override {
        if (m_hwnd != nullptr)
            DragAcceptFiles(m_hwnd, accept ? TRUE : FALSE);
    }

    void PostCommand(int id) override {
        if (m_hwnd != nullptr) {
            PostMessageA(m_hwnd, WM_COMMAND,
                         MAKEWPARAM(static_cast<WORD>(id), static_cast<WORD>(BN_CLICKED)), 0);
        }
    }

    bool PumpMessage(unsigned timeoutMs) override {
        if (DispatchWaiting())
            return true;
        if (timeoutMs == 0)
            return false;
        // Sleeps until a message arrives, WakeUp is called or the time is up.
        const DWORD woke =
            MsgWaitForMultipleObjectsEx(1, &m_wake, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0 + 1)
            return DispatchWaiting();
        return false;
    }

    void WakeUp() override {
        if (m_wake != nullptr)
            SetEvent(m_wake);
    }

    void SetProgressPos(int id, int percent) override {
        Send(id, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    }

    void BeginWaitCursor() override {
        HCURSOR previous = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
        if (m_nWaitDepth++ == 0)
            m_restoreCursor = previous;
    }

    void RestoreWaitCursor() override {
        if (m_nWaitDepth > 0)
            SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));
    }

    void EndWaitCursor() override {
        if (m_nWaitDepth == 0)
            return;
        if (--m_nWaitDepth == 0) {
            SetCursor(m_restoreCursor != nullptr
                          ? m_restoreCursor
                          : LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));  // IDC_ARROW
        }
    }

    int ShowMessageBox(const std::string& text, const std::string& caption,
                       unsigned style) override {
        return MessageBoxA(m_hwnd, text.c_str(), caption.c_str(), style);
    }

    std::optional<std::string> ChooseOpenFile(const std::string& title,
                                              const std::string& filter) override {
        // "Name|pattern|...||" becomes the NUL-separated, double-NUL-terminated list.
        std::string filters = filter;
        for (char& c : filters) {
            if (c == '|')
                c = '\0';
        }
        filters.append(2, '\0');
        std::vector<char> file(32768, '\0');
        OPENFILENAMEA ofn = {};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = m_hwnd;
        ofn.lpstrFilter = filters.c_str();
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = file.data();
        ofn.nMaxFile = static_cast<DWORD>(file.size());
        ofn.lpstrTitle = title.c_str();
        ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
        if (!GetOpenFileNameA(&ofn))
            return std::nullopt;
        return std::string(file.data());
    }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_INITDIALOG) {
            auto* self = reinterpret_cast<CWin32Window*>(lParam);
            SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
            self->m_hwnd = hwnd;
            ApplyFallbackDialogFont(hwnd);
            Block().windows.push_back(hwnd);
            if (Block().active)
                ApplyShutdownBlock(hwnd);
            return self->m_events.OnInitDialog() ? TRUE : FALSE;
        }
        auto* self = reinterpret_cast<CWin32Window*>(GetWindowLongPtrA(hwnd, DWLP_USER));
        if (self == nullptr)
            return FALSE;
        return self->OnMessage(msg, wParam, lParam);
    }

    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
        switch (msg) {
            case WM_COMMAND:
                m_events.OnCommand(LOWORD(wParam), HIWORD(wParam));
                return TRUE;
            case WM_SYSCOMMAND:
                if (m_events.OnSysCommand(static_cast<unsigned>(wParam))) {
                    SetWindowLongPtrA(m_hwnd, DWLP_MSGRESULT, 0);
                    return TRUE;
                }
                return FALSE;
            case WM_SHOWWINDOW:
                if (wParam != 0)
                    m_events.OnShowWindow();
                return FALSE;
            case WM_WINDOWPOSCHANGING: {
                auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
                const bool show = (pos->flags & SWP_SHOWWINDOW) != 0;
                if (show && !m_events.OnWindowPosChanging(true))
                    pos->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
                return FALSE;
            }
            case WM_PAINT:
                if (IsIconic(m_hwnd)) {
                    PaintIcon();
                    return TRUE;
                }
                return FALSE;
            case WM_QUERYDRAGICON:
                return reinterpret_cast<INT_PTR>(m_smallIcon);
            case WM_DROPFILES:
                DropFiles(reinterpret_cast<HDROP>(wParam));
                return TRUE;
            case WM_QUERYENDSESSION:
                // Refused while firmware is being written; otherwise the default (TRUE).
                if (!Block().active)
                    return FALSE;
                SetWindowLongPtrA(m_hwnd, DWLP_MSGRESULT, FALSE);
                return TRUE;
            case WM_SETCURSOR:
                if (m_nWaitDepth > 0) {
                    SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));
                    SetWindowLongPtrA(m_hwnd, DWLP_MSGRESULT, TRUE);
                    return TRUE;
                }
                return FALSE;
            default:
                return FALSE;
        }
    }

    // Minimised: the icon, centred in the client area.
    void PaintIcon() {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(m_hwnd, &ps);
        SendMessageA(m_hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT rc;
        GetClientRect(m_hwnd, &rc);
        const int x = (rc.right - rc.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (rc.bottom - rc.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
        if (m_smallIcon != nullptr)
            DrawIcon(dc, x, y, m_smallIcon);
        EndPaint(m_hwnd, &ps);
    }

    void DropFiles(HDROP drop) {
        std::vector<std::string> files;
        const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            const UINT length = DragQueryFileA(drop, i, nullptr, 0);
            std::vector<char> path(static_cast<size_t>(length) + 1, '\0');
            const UINT got = DragQueryFileA(drop, i, path.data(), length + 1);
            files.emplace_back(path.data(), got <= length ? got : length);
        }
        DragFinish(drop);
        m_events.OnDropFiles(files);
    }

    bool DispatchWaiting() {
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            return false;
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        Dispatch(msg);
        return true;
    }

    void Dispatch(MSG& msg) {
        if (m_hwnd != nullptr && IsDialogMessageA(m_hwnd, &msg))
            return;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }

    HWND Item(int id) const { return m_hwnd != nullptr ? GetDlgItem(m_hwnd, id) : nullptr; }

    LRESULT Send(int id, UINT msg, WPARAM wParam, LPARAM lParam) {
        HWND control = Item(id);
        return control != nullptr ? SendMessageA(control, msg, wParam, lParam) : CB_ERR;
    }

    static int ListResult(LRESULT r) { return r < 0 ? -1 : static_cast<int>(r); }

    void FreeImages() {
        for (auto& entry : m_bitmaps) {
            if (entry.second != nullptr)
                DeleteObject(entry.second);
        }
        m_bitmaps.clear();
        if (m_bigIcon != nullptr)
            DestroyIcon(m_bigIcon);
        if (m_smallIcon != nullptr)
            DestroyIcon(m_smallIcon);
        m_bigIcon = m_smallIcon = nullptr;
    }

    const int m_nTemplateId;
    IDialogEvents& m_events;
    CWin32Window* const m_pParent;
    HWND m_hwnd = nullptr;
    HANDLE m_wake = nullptr;
    bool m_bEnded = false;
    int m_nResult = 0;
    int m_nWaitDepth = 0;
    HCURSOR m_restoreCursor = nullptr;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    std::map<int, HBITMAP> m_bitmaps;
    // Texts of multi-line boxes whose line breaks were widened to CR LF for display.
    std::map<int, std::string> m_original;
};

class CWin32WindowFactory : public IWindowFactory {
public:
    std::shared_ptr<IDialogWindow> CreateDialogWindow(int templateId, IDialogEvents& events,
                                                      IDialogWindow* parent) override {
        return std::make_shared<CWin32Window>(templateId, events,
                                              dynamic_cast<CWin32Window*>(parent));
    }
};

}  // namespace

void ApplyFallbackDialogFont(HWND dialog) {
    const auto font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    LOGFONTW face = {};
    if (font == nullptr || GetObjectW(font, sizeof face, &face) == 0 ||
        FontInstalled(face.lfFaceName)) {
        return;
    }
    // One font per size and weight for the life of the process.
    static std::map<std::pair<LONG, LONG>, HFONT> fallbacks;
    HFONT& fallback = fallbacks[{face.lfHeight, face.lfWeight}];
    if (fallback == nullptr) {
        face.lfCharSet = DEFAULT_CHARSET;
        lstrcpynW(face.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE);
        fallback = CreateFontIndirectW(&face);
    }
    if (fallback == nullptr)
        return;
    SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(fallback), FALSE);
    EnumChildWindows(dialog, SetControlFont, reinterpret_cast<LPARAM>(fallback));
}

void SetWin32ShutdownBlock(const std::string* reason) {
    ShutdownBlock& block = Block();
    block.active = reason != nullptr;
    block.reason.clear();
    if (reason != nullptr && !reason->empty()) {
        const int n = MultiByteToWideChar(CP_ACP, 0, reason->c_str(),
                                          static_cast<int>(reason->size()), nullptr, 0);
        block.reason.assign(static_cast<size_t>(n > 0 ? n : 0), L'\0');
        MultiByteToWideChar(CP_ACP, 0, reason->c_str(), static_cast<int>(reason->size()),
                            block.reason.data(), n);
    }
    for (HWND hwnd : block.windows)
        ApplyShutdownBlock(hwnd);
}

std::unique_ptr<IWindowFactory> CreateWin32WindowFactory() {
    return std::make_unique<CWin32WindowFactory>();
}
