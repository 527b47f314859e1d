// winrun: the end-to-end tests' hands and eyes on Windows (and under Wine, whose own exit
// status keeps only 8 bits of a process exit code).
//
//   winrun run PROGRAM [ARGS...]
//       Starts the program, waits for it (at most WINRUN_TIMEOUT seconds, default 120) and
//       prints "shown=yes|no" (whether any window of it was ever visible) and "exit=N" with
//       the full 32-bit exit code.
//   winrun drive STEPFILE PROGRAM [ARGS...]
//       The same, and meanwhile works the program's windows as a person would, one step per
//       line of STEPFILE (below). A failing step prints "FAIL line N: ..." and ends the
//       program.
//   winrun fit EXE
//       Makes every dialog of EXE as the program does (its templates, the fallback font) and
//       measures each text of its statics, buttons, check boxes and read-only edit boxes
//       with the control's own font: the template's texts and every text the program puts
//       there, in English and, when a Japanese font is installed, the Japanese partners.
//       Prints each text that does not fit its control.
//   winrun resources EXE
//       Checks the resources of EXE against the program's own tables: string table, dialog
//       templates (control ids, kinds, rectangles), icons, bitmaps, version and manifest.
//
// Steps ("..." quotes a text with blanks; timeouts in seconds, default 20):
//   window TITLE [T] [ID]  wait for an enabled, visible window of the program with TITLE
//                        (and a control ID)
//   gone [T]             wait until that window is closed
//   text ID TEXT [T]     wait until control ID shows TEXT
//   contains ID TEXT [T] wait until control ID shows a text containing TEXT
//   enabled ID 0|1       wait until control ID is disabled / enabled
//   visible ID 0|1       wait until control ID is hidden / shown
//   entries ID N         wait until list ID has N entries
//   entry ID I TEXT      wait until entry I of list ID is TEXT
//   selected ID I        wait until list ID has entry I selected
//   select ID I          select entry I of list ID as a person would
//   click ID             press button ID
//   type ID TEXT         put TEXT into edit box (or combo box) ID
//   sys CMD              choose system-menu command CMD
//   position ID MIN MAX [T]  wait until progress bar ID stands between MIN and MAX
//   queryend 0|1         ask the window whether the session may end (WM_QUERYENDSESSION);
//                        its answer must be FALSE (0) / TRUE (1)
//   title TEXT           the window's title is TEXT
//   shot FILE            save a picture of the window (24-bit BMP)
//   sleep MS
//   dump                 print the program's visible windows and their controls
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ui/strings.h"
#include "ui/win32_window.h"

namespace {

int Fail(const std::string& text) {
    std::printf("FAIL %s\n", text.c_str());
    std::fflush(stdout);
    return 1;
}

std::string Quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
        } else if (c == '"') {
            out.append(slashes + 1, '\\');
            slashes = 0;
        } else {
            slashes = 0;
        }
        out += c;
    }
    out.append(slashes, '\\');
    return out + "\"";
}

unsigned Timeout() {
    const char* t = std::getenv("WINRUN_TIMEOUT");
    return t != nullptr ? static_cast<unsigned>(std::atoi(t)) : 120;
}

struct FindArgs {
    DWORD pid;
    const std::string* title;
    HWND found;
    bool anyVisible;
};

BOOL CALLBACK FindWindowOf(HWND hwnd, LPARAM lParam) {
    auto* args = reinterpret_cast<FindArgs*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != args->pid || !IsWindowVisible(hwnd))
        return TRUE;
    args->anyVisible = true;
    if (args->title == nullptr || !IsWindowEnabled(hwnd))
        return TRUE;
    char text[512] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    if (*args->title == text) {
        args->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Visible windows of the process: the one with title (enabled), and whether there is any.
HWND FindProgramWindow(DWORD pid, const std::string* title, bool* anyVisible) {
    FindArgs args = {pid, title, nullptr, false};
    EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&args));
    if (anyVisible != nullptr)
        *anyVisible = args.anyVisible;
    return args.found;
}

std::wstring Wide(const std::string& utf8) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

// Texts of another process's controls, asked for in UTF-16 (Wine passes the ANSI forms of
// some list messages across processes wrongly).
std::string ControlText(HWND control) {
    wchar_t buffer[4096] = {};
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 5000, &result)) {
        return "<no answer>";
    }
    return Utf8(buffer);
}

std::string ListEntry(HWND list, int index) {
    const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0)
        return "<none>";
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(buffer.data()));
    return Utf8(buffer.data());
}

bool SaveBitmap(HWND hwnd, const std::string& path) {
    RECT r;
    if (!GetWindowRect(hwnd, &r))
        return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bitmap);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
    SelectObject(mem, old);
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    std::vector<char> bits(stride * static_cast<DWORD>(h));
    GetDIBits(mem, bitmap, 0, static_cast<UINT>(h), bits.data(),
              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(bits.size());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(bits.data(), static_cast<std::streamsize>(bits.size()));
    return static_cast<bool>(out);
}

std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            break;
        std::string token;
        if (line[i] == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos)
                end = line.size();
            token = line.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                token += line[i++];
        }
        out.push_back(token);
    }
    return out;
}

struct Child {
    PROCESS_INFORMATION pi = {};
    bool everShown = false;
};

bool Start(const std::vector<std::string>& command, Child* child) {
    std::string line;
    for (const std::string& arg : command)
        line += (line.empty() ? "" : " ") + Quote(arg);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &child->pi)) {
        std::printf("FAIL cannot start %s (error %lu)\n", line.c_str(), GetLastError());
        return false;
    }
    return true;
}

// Waits up to ms for the child to end while noting whether it showed a window.
bool WaitChild(Child& child, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        bool visible = false;
        FindProgramWindow(child.pi.dwProcessId, nullptr, &visible);
        child.everShown = child.everShown || visible;
        if (WaitForSingleObject(child.pi.hProcess, 50) == WAIT_OBJECT_0)
            return true;
        if (GetTickCount64() >= end)
            return false;
    }
}

int Finish(Child& child, bool stepsOk) {
    if (!stepsOk) {
        TerminateProcess(child.pi.hProcess, 99);
        WaitForSingleObject(child.pi.hProcess, 5000);
    } else if (!WaitChild(child, Timeout() * 1000)) {
        TerminateProcess(child.pi.hProcess, 99);
        WaitForSingleObject(child.pi.hProcess, 5000);
        std::printf("FAIL timeout: the program did not end\n");
        stepsOk = false;
    }
    DWORD code = 0;
    GetExitCodeProcess(child.pi.hProcess, &code);
    std::printf("shown=%s\nexit=%lu\n", child.everShown ? "yes" : "no", code);
    std::fflush(stdout);
    CloseHandle(child.pi.hThread);
    CloseHandle(child.pi.hProcess);
    return stepsOk ? 0 : 1;
}

BOOL CALLBACK DumpControl(HWND hwnd, LPARAM) {
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    std::printf("    %d %s \"%s\"%s\n", GetDlgCtrlID(hwnd), cls, ControlText(hwnd).c_str(),
                IsWindowEnabled(hwnd) ? "" : " (disabled)");
    return TRUE;
}

BOOL CALLBACK DumpWindow(HWND hwnd, LPARAM lParam) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != static_cast<DWORD>(lParam) || !IsWindowVisible(hwnd))
        return TRUE;
    char title[512] = {};
    GetWindowTextA(hwnd, title, sizeof title);
    std::printf("window \"%s\"%s\n", title, IsWindowEnabled(hwnd) ? "" : " (disabled)");
    EnumChildWindows(hwnd, DumpControl, 0);
    return TRUE;
}

void Dump(DWORD pid) {
    EnumWindows(DumpWindow, static_cast<LPARAM>(pid));
    std::fflush(stdout);
}

class Driver {
public:
    explicit Driver(Child& child) : m_child(child) {}

    // Runs one step; false with *why on failure.
    bool Step(const std::vector<std::string>& t, std::string* why) {
        const std::string& op = t[0];
        auto arg = [&](size_t i) { return i < t.size() ? t[i] : std::string(); };
        auto num = [&](size_t i) { return std::atoi(arg(i).c_str()); };
        auto seconds = [&](size_t i) { return i < t.size() ? num(i) : 20; };
        if (op == "sleep") {
            Sleep(static_cast<DWORD>(num(1)));
            return true;
        }
        if (op == "dump") {
            Dump(m_child.pi.dwProcessId);
            return true;
        }
        if (op == "window") {
            const std::string title = arg(1);
            const int control = t.size() > 3 ? num(3) : 0;
            return WaitFor(seconds(2), why, "no window \"" + title + "\"", [&] {
                m_window = FindProgramWindow(m_child.pi.dwProcessId, &title, nullptr);
                m_child.everShown = m_child.everShown || m_window != nullptr;
                return m_window != nullptr &&
                       (control == 0 || GetDlgItem(m_window, control) != nullptr);
            });
        }
        if (m_window == nullptr) {
            *why = "no window chosen";
            return false;
        }
        if (op == "gone") {
            return WaitFor(seconds(1), why, "the window is still there",
                           [&] { return !IsWindow(m_window) || !IsWindowVisible(m_window); });
        }
        if (op == "title") {
            char text[512] = {};
            GetWindowTextA(m_window, text, sizeof text);
            return Expect(arg(1), text, "title", why);
        }
        if (op == "shot") {
            Sleep(300);  // let the program paint
            if (!SaveBitmap(m_window, arg(1))) {
                *why = "cannot save " + arg(1);
                return false;
            }
            return true;
        }
        if (op == "queryend") {
            DWORD_PTR answer = 0;
            if (!SendMessageTimeoutA(m_window, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000,
                                     &answer)) {
                *why = "no answer to WM_QUERYENDSESSION";
                return false;
            }
            return Expect(arg(1), answer != 0 ? "1" : "0", "WM_QUERYENDSESSION answer", why);
        }
        if (op == "sys") {
            PostMessageA(m_window, WM_SYSCOMMAND, static_cast<WPARAM>(num(1)), 0);
            return true;
        }
        HWND control = GetDlgItem(m_window, num(1));
        if (control == nullptr) {
            *why = "no control " + arg(1);
            return false;
        }
        if (op == "text" || op == "contains") {
            const std::string want = arg(2);
            std::string seen;
            return WaitFor(seconds(3), why, "", [&] {
                seen = ControlText(control);
                *why = "control " + arg(1) + " shows \"" + seen + "\", expected \"" + want + "\"";
                return op == "text" ? seen == want : seen.find(want) != std::string::npos;
            });
        }
        // States are waited for: the program may still be on its way to them.
        auto state = [&](const std::string& want, const std::string& what, auto read) {
            return WaitFor(20, why, "", [&] { return Expect(want, read(), what, why); });
        };
        if (op == "enabled") {
            return state(arg(2), "enabled " + arg(1),
                         [&] { return std::string(IsWindowEnabled(control) ? "1" : "0"); });
        }
        if (op == "visible") {
            return state(arg(2), "visible " + arg(1),
                         [&] { return std::string(IsWindowVisible(control) ? "1" : "0"); });
        }
        if (op == "position") {
            const int low = num(2), high = num(3);
            std::string seen;
            return WaitFor(t.size() > 4 ? num(4) : 20, why, "", [&] {
                const auto pos = static_cast<int>(SendMessageA(control, PBM_GETPOS, 0, 0));
                *why = "progress bar " + arg(1) + " stands at " + std::to_string(pos) +
                       ", expected " + arg(2) + " to " + arg(3);
                return pos >= low && pos <= high;
            });
        }
        if (op == "entries") {
            return state(arg(2), "entries of " + arg(1),
                         [&] { return std::to_string(SendMessageA(control, CB_GETCOUNT, 0, 0)); });
        }
        if (op == "entry")
            return state(arg(3), "entry " + arg(2), [&] { return ListEntry(control, num(2)); });
        if (op == "selected") {
            return state(arg(2), "selection of " + arg(1),
                         [&] { return std::to_string(SendMessageA(control, CB_GETCURSEL, 0, 0)); });
        }
        if (op == "select") {
            SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(num(2)), 0);
            SendMessageA(m_window, WM_COMMAND, MAKEWPARAM(num(1), CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(control));
            return true;
        }
        if (op == "type") {
            const std::wstring text = Wide(arg(2));
            SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
            return true;
        }
        if (op == "click") {
            if (!IsWindowEnabled(control)) {
                *why = "button " + arg(1) + " is disabled";
                return false;
            }
            PostMessageA(control, BM_CLICK, 0, 0);
            return true;
        }
        *why = "unknown step " + op;
        return false;
    }

private:
    template <typename Test>
    bool WaitFor(int seconds, std::string* why, const std::string& failure, Test test) {
        const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
        for (;;) {
            if (test())
                return true;
            bool visible = false;
            FindProgramWindow(m_child.pi.dwProcessId, nullptr, &visible);
            m_child.everShown = m_child.everShown || visible;
            if (GetTickCount64() >= end ||
                WaitForSingleObject(m_child.pi.hProcess, 50) == WAIT_OBJECT_0) {
                if (test())
                    return true;
                if (!failure.empty())
                    *why = failure;
                return false;
            }
        }
    }

    static bool Expect(const std::string& want, const std::string& seen, const std::string& what,
                       std::string* why) {
        if (want == seen)
            return true;
        *why = what + " is \"" + seen + "\", expected \"" + want + "\"";
        return false;
    }

    Child& m_child;
    HWND m_window = nullptr;
};

int Run(const std::vector<std::string>& command) {
    Child child;
    if (!Start(command, &child))
        return 100;
    return Finish(child, true);
}

int Drive(const std::string& stepFile, const std::vector<std::string>& command) {
    std::ifstream in(stepFile);
    if (!in)
        return Fail("cannot read " + stepFile);
    Child child;
    if (!Start(command, &child))
        return 100;
    Driver driver(child);
    std::string line;
    int number = 0;
    bool ok = true;
    while (ok && std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::vector<std::string> t = Tokens(line);
        if (t.empty() || t[0][0] == '#')
            continue;
        std::string why;
        if (!driver.Step(t, &why)) {
            Fail("line " + std::to_string(number) + " (" + line + "): " + why);
            ok = false;
        }
    }
    return Finish(child, ok);
}

// ---- Resource checks ------------------------------------------------------------------------

struct ControlSpec {
    int id;
    const char* cls;  // window class, lower case
    int x, y, w, h;   // dialog units; w < 0: rectangle not checked
};

struct DialogSpec {
    int id;
    const char* title;
    int w, h;
    std::vector<ControlSpec> controls;
};

const std::vector<DialogSpec>& DialogSpecs() {
    static const std::vector<DialogSpec> specs = {
        {100,
         "About Varnel",
         235,
         55,
         {{1030, "static", 40, 25, 180, 8}, {1, "button", 178, 7, 50, 14}}},
        {102,
         "Varnel",
         -1,
         -1,
         {{1021, "edit", 5, 5, 185, 20},
          {1012, "edit", 5, 30, 185, 12},
          {1013, "combobox", 5, 45, 190, -1},
          {1014, "edit", 3, 70, 89, 12},
          {1015, "edit", 103, 70, 89, 12},
          {1016, "edit", 30, 90, 35, 12},
          {1017, "edit", 130, 90, 35, 12},
          {1022, "static", 89, 84, -1, -1},
          {1020, "edit", 10, 120, 106, 36},
          {1018, "edit", 126, 115, 30, 12},
          {1019, "edit", 161, 115, 30, 12},
          {1011, "button", 126, 127, 30, 30},
          {2, "button", 161, 127, 30, 30},
          {1035, "msctls_progress32", 5, 162, 190, 8}}},
        {129,
         "Varnel.exe - Maintenance mode Ver.3.74K",
         275,
         275,
         {{1000, "edit", -1, -1, -1, -1},     {1009, "button", -1, -1, -1, -1},
          {1023, "combobox", -1, -1, -1, -1}, {1025, "combobox", -1, -1, -1, -1},
          {1026, "combobox", -1, -1, -1, -1}, {1027, "combobox", -1, -1, -1, -1},
          {1028, "combobox", -1, -1, -1, -1}, {1029, "button", -1, -1, -1, -1},
          {1030, "button", -1, -1, -1, -1},   {1031, "button", -1, -1, -1, -1},
          {1032, "button", -1, -1, -1, -1},   {1024, "combobox", -1, -1, -1, -1},
          {1001, "edit", -1, -1, -1, -1},     {1002, "edit", -1, -1, -1, -1},
          {1003, "edit", -1, -1, -1, -1},     {1007, "edit", -1, -1, -1, -1},
          {1008, "edit", -1, -1, -1, -1},     {1004, "edit", -1, -1, -1, -1},
          {1010, "edit", -1, -1, -1, -1},     {3, "button", -1, -1, -1, -1},
          {1005, "button", -1, -1, -1, -1},   {2, "button", -1, -1, -1, -1}}},
        {137, "Varnel", 219, 90, {{1034, "edit", 25, 10, 185, 55}, {1, "button", 85, 70, 50, 14}}},
    };
    return specs;
}

INT_PTR CALLBACK QuietDialog(HWND, UINT msg, WPARAM, LPARAM) {
    return msg == WM_INITDIALOG ? TRUE : FALSE;
}

// Pixels of a dialog-unit length in dialog hwnd, for comparison with 1 pixel of slack.
bool Near(HWND dlg, int du, int px, bool vertical) {
    RECT r = {0, 0, du, du};
    MapDialogRect(dlg, &r);
    const int want = vertical ? r.bottom : r.right;
    return px >= want - 2 && px <= want + 2;
}

int CheckDialogs(HMODULE module, int* failures) {
    for (const DialogSpec& wanted : DialogSpecs()) {
        HWND dlg = CreateDialogParamA(module, MAKEINTRESOURCEA(wanted.id), nullptr, QuietDialog, 0);
        if (dlg == nullptr) {
            Fail("dialog " + std::to_string(wanted.id) + " cannot be created");
            ++*failures;
            continue;
        }
        char title[256] = {};
        GetWindowTextA(dlg, title, sizeof title);
        if (wanted.title != std::string(title)) {
            Fail("dialog " + std::to_string(wanted.id) + " title \"" + title + "\"");
            ++*failures;
        }
        RECT client;
        GetClientRect(dlg, &client);
        if (wanted.w > 0 && (!Near(dlg, wanted.w, client.right, false) ||
                             !Near(dlg, wanted.h, client.bottom, true))) {
            Fail("dialog " + std::to_string(wanted.id) + " size");
            ++*failures;
        }
        for (const ControlSpec& c : wanted.controls) {
            const std::string what =
                "dialog " + std::to_string(wanted.id) + " control " + std::to_string(c.id);
            HWND control = GetDlgItem(dlg, c.id);
            if (control == nullptr) {
                Fail(what + " missing");
                ++*failures;
                continue;
            }
            char cls[64] = {};
            GetClassNameA(control, cls, sizeof cls);
            if (lstrcmpiA(cls, c.cls) != 0) {
                Fail(what + " is a " + cls + ", expected " + c.cls);
                ++*failures;
            }
            RECT r;
            GetWindowRect(control, &r);
            MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
            const bool ok = (c.x < 0 || Near(dlg, c.x, r.left, false)) &&
                            (c.y < 0 || Near(dlg, c.y, r.top, true)) &&
                            (c.w < 0 || Near(dlg, c.w, r.right - r.left, false)) &&
                            (c.h < 0 || Near(dlg, c.h, r.bottom - r.top, true));
            if (!ok) {
                Fail(what + " rectangle");
                ++*failures;
            }
        }
        DestroyWindow(dlg);
    }
    return *failures;
}

int Resources(const std::string& exe) {
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return Fail("cannot load " + exe);
    int failures = 0;
    // String table: every id 101 to 149 as the program's own table has it (UTF-16).
    for (unsigned id = 101; id <= 149; ++id) {
        const std::wstring want = Wide(LoadText(id));
        const wchar_t* text = nullptr;
        const int n = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
        const std::wstring seen = n > 0 ? std::wstring(text, static_cast<size_t>(n)) : L"";
        if (seen != want) {
            Fail("string " + std::to_string(id) + " differs from the program's table");
            ++failures;
        }
    }
    if (Wide(LoadText(102)) !=
        L"\xFF84\xFF9E\xFF97\xFF72\xFF8C\xFF9E\x3092\x9078\x629E\x3057"
        L"\x3066\x304F\x3060\x3055\x3044\x3002") {
        Fail("string 102 is not the half-width katakana text");
        ++failures;
    }
    const struct {
        int id;
        int w, h, bits;
    } bitmaps[] = {{132, 43, 36, 8}, {133, 43, 36, 8}, {134, 43, 36, 8}, {136, 116, 35, 8}};
    for (const auto& b : bitmaps) {
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(b.id), MAKEINTRESOURCEA(2));
        const auto* info =
            found != nullptr
                ? static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, found)))
                : nullptr;
        if (info == nullptr || info->biWidth != b.w || info->biHeight != b.h ||
            info->biBitCount != b.bits) {
            Fail("bitmap " + std::to_string(b.id));
            ++failures;
        }
    }
    for (int id : {128, 133, 138}) {
        HICON icon = static_cast<HICON>(
            LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
        HICON big = static_cast<HICON>(
            LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
        if (icon == nullptr || big == nullptr) {
            Fail("icon " + std::to_string(id));
            ++failures;
        }
    }
    if (FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16)) == nullptr) {
        Fail("no version resource");
        ++failures;
    }
    HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    const std::string text =
        manifest != nullptr
            ? std::string(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                          SizeofResource(module, manifest))
            : std::string();
    for (const char* part : {"Microsoft.Windows.Common-Controls", "highestAvailable", "dpiAware"}) {
        if (text.find(part) == std::string::npos) {
            Fail(std::string("manifest without ") + part);
            ++failures;
        }
    }
    CheckDialogs(module, &failures);
    std::printf("resources: %d problem(s)\n", failures);
    return failures == 0 ? 0 : 1;
}

// ---- Text fit -------------------------------------------------------------------------------

// Texts the program puts into a control at run time: string ids (the English text; its
// Japanese partner is the id before it), or fixed texts.
struct RuntimeTexts {
    int dialog;
    int control;
    std::vector<unsigned> ids;
    std::vector<std::string> fixed;
};

const std::vector<RuntimeTexts>& RuntimeTextTable() {
    // A failed run appends the drive's error text (18 bytes of sense data) to text 129.
    static const std::string errorText =
        " (Error data = 70 00 04 00 00 00 00 0A 00 00 00 00 44 00 00 00 00 00 )";
    static const std::vector<RuntimeTexts> table = {
        {102, 1021, {123}, {}},
        {102, 1012, {103, 105, 125}, {}},
        {102, 1014, {107}, {}},
        {102, 1015, {109}, {}},
        {102, 1016, {}, {"****-**", "8888-88"}},
        {102, 1017, {}, {"8888-88"}},
        {102, 1018, {111, 113}, {}},
        {102, 1019, {115}, {}},
        {102, 1020, {105, 117, 119, 121, 131, 133, 135, 137, 139}, {}},
        {102, 1020, {}, {LoadText(129) + errorText}},
        {137, 1034, {149}, {}},
        {129,
         1010,
         {},
         {"Load OK (Push Generate button)", "Load NG", "Load OK / Generate OK",
          "Load OK / Generate NG"}},
    };
    return table;
}

// A scalable Japanese font (the bitmap system fonts do not count).
int CALLBACK FoundJapaneseFont(const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM p) {
    if ((type & TRUETYPE_FONTTYPE) != 0 && font->lfFaceName[0] != L'@')
        *reinterpret_cast<bool*>(p) = true;
    return 1;
}

bool JapaneseFontInstalled() {
    LOGFONTW wanted = {};
    wanted.lfCharSet = SHIFTJIS_CHARSET;
    bool found = false;
    HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &wanted, FoundJapaneseFont, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, dc);
    return found;
}

INT_PTR CALLBACK FitDialog(HWND hwnd, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG)
        ApplyFallbackDialogFont(hwnd);
    return msg == WM_INITDIALOG ? TRUE : FALSE;
}

std::wstring WindowTextW(HWND hwnd) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(hwnd, buffer, 1024);
    return buffer;
}

// The rectangle a control draws its text in, and the DrawText flags it uses; false for
// controls that show no text of their own (pictures, bitmap buttons, combo and input boxes).
bool TextArea(HWND control, RECT* area, UINT* flags) {
    char cls[64] = {};
    GetClassNameA(control, cls, sizeof cls);
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
    GetClientRect(control, area);
    *flags = DT_CALCRECT | DT_EXPANDTABS;
    if (lstrcmpiA(cls, "Static") == 0) {
        const DWORD type = style & SS_TYPEMASK;
        if (type > SS_RIGHT && type != SS_SIMPLE && type != SS_LEFTNOWORDWRAP)
            return false;
        if (type <= SS_RIGHT)
            *flags |= DT_WORDBREAK;
        if (style & SS_NOPREFIX)
            *flags |= DT_NOPREFIX;
        return true;
    }
    if (lstrcmpiA(cls, "Button") == 0) {
        if (style & (BS_BITMAP | BS_ICON))
            return false;
        const DWORD type = style & BS_TYPEMASK;
        if (style & BS_MULTILINE)
            *flags |= DT_WORDBREAK;
        if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
            type == BS_AUTORADIOBUTTON || type == BS_3STATE || type == BS_AUTO3STATE) {
            // The box and the gap before the text.
            area->left += GetSystemMetrics(SM_CXMENUCHECK) + 4;
        } else if (type == BS_GROUPBOX) {
            InflateRect(area, -GetSystemMetrics(SM_CXEDGE) * 4, 0);
        } else {
            InflateRect(area, -GetSystemMetrics(SM_CXEDGE) * 2, -GetSystemMetrics(SM_CYEDGE) * 2);
        }
        return true;
    }
    if (lstrcmpiA(cls, "Edit") == 0 && (style & ES_READONLY) != 0) {
        SendMessageW(control, EM_GETRECT, 0, reinterpret_cast<LPARAM>(area));
        *flags |= DT_NOPREFIX | ((style & ES_MULTILINE) ? DT_WORDBREAK | DT_EDITCONTROL : 0);
        return true;
    }
    return false;
}

// Whether text fits control; *need receives the size it needs.
bool Fits(HWND control, const std::wstring& text, SIZE* need, SIZE* have) {
    RECT area;
    UINT flags = 0;
    if (!TextArea(control, &area, &flags))
        return true;
    HDC dc = GetDC(control);
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT measured = {0, 0, area.right - area.left, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measured, flags);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    need->cx = measured.right - measured.left;
    need->cy = measured.bottom - measured.top;
    have->cx = area.right - area.left;
    have->cy = area.bottom - area.top;
    return need->cx <= have->cx && need->cy <= have->cy;
}

struct FitArgs {
    int dialog;
    bool japanese;
    int* problems;
    int* measured;
};

void CheckText(HWND control, const FitArgs& a, const std::wstring& text, const std::string& what) {
    if (text.empty())
        return;
    SIZE need, have;
    ++*a.measured;
    if (Fits(control, text, &need, &have))
        return;
    std::printf("FAIL dialog %d control %d: %s \"%s\" needs %ldx%ld pixels, has %ldx%ld\n",
                a.dialog, GetDlgCtrlID(control), what.c_str(), Utf8(text).c_str(), need.cx, need.cy,
                have.cx, have.cy);
    ++*a.problems;
}

BOOL CALLBACK CheckTemplateText(HWND control, LPARAM lParam) {
    const auto& a = *reinterpret_cast<const FitArgs*>(lParam);
    CheckText(control, a, WindowTextW(control), "template text");
    return TRUE;
}

int Fit(const std::string& exe) {
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return Fail("cannot load " + exe);
    const bool japanese = JapaneseFontInstalled();
    int problems = 0, measured = 0;
    for (const int id : {100, 102, 129, 137}) {
        HWND dlg = CreateDialogParamW(module, MAKEINTRESOURCEW(id), nullptr, FitDialog, 0);
        if (dlg == nullptr) {
            Fail("dialog " + std::to_string(id) + " cannot be created");
            ++problems;
            continue;
        }
        FitArgs args = {id, japanese, &problems, &measured};
        EnumChildWindows(dlg, CheckTemplateText, reinterpret_cast<LPARAM>(&args));
        for (const RuntimeTexts& r : RuntimeTextTable()) {
            HWND control = r.dialog == id ? GetDlgItem(dlg, r.control) : nullptr;
            if (control == nullptr)
                continue;
            for (const unsigned text : r.ids) {
                CheckText(control, args, Wide(LoadText(text)), "text " + std::to_string(text));
                if (japanese) {
                    CheckText(control, args, Wide(LoadText(text - 1)),
                              "text " + std::to_string(text - 1));
                }
            }
            for (const std::string& text : r.fixed)
                CheckText(control, args, Wide(text), "text");
        }
        DestroyWindow(dlg);
    }
    std::printf("fit: %d texts measured%s, %d do not fit\n", measured,
                japanese ? " (Japanese too)" : " (no Japanese font)", problems);
    return problems == 0 && measured > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "run")
        return Run(std::vector<std::string>(args.begin() + 1, args.end()));
    if (args.size() >= 3 && args[0] == "drive")
        return Drive(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    if (args.size() == 2 && args[0] == "resources")
        return Resources(args[1]);
    if (args.size() == 2 && args[0] == "fit")
        return Fit(args[1]);
    std::fprintf(stderr,
                 "usage: winrun run PROGRAM [ARGS...]\n"
                 "       winrun drive STEPFILE PROGRAM [ARGS...]\n"
                 "       winrun resources EXE\n"
                 "       winrun fit EXE\n");
    return 2;
}
