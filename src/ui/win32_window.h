// The Win32 dialog window: each modal run creates a dialog from the program's own template
// resource and runs a message loop until the dialog ends. Windows build only
// (win32_window_win32.cpp).
#pragma once

#include <memory>
#include <string>

#include "ui/dialog_window.h"

// Windows of the running module's dialog templates. Texts are 8-bit in the code page of
// the running system.
std::unique_ptr<IWindowFactory> CreateWin32WindowFactory();

// While a reason is set, every dialog window refuses the end of the session
// (WM_QUERYENDSESSION answers FALSE) and names the reason to the system
// (ShutdownBlockReasonCreate); nullptr lifts the block. User-interface thread only.
void SetWin32ShutdownBlock(const std::string* reason);

// Dialog font of a template whose face is not installed: the system's dialog face ("MS Shell
// Dlg 2") at the template's size for the dialog and every control, instead of whatever the
// font mapper would substitute. Called for every dialog as it is created.
struct HWND__;
void ApplyFallbackDialogFont(HWND__* dialog);
