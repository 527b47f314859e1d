// The Win32 dialog window: each modal run creates a dialog from the program's own template
// resource and runs a message loop until the dialog ends. Windows build only
// (win32_window_win32.cpp).
#pragma once

#include <memory>

#include "ui/dialog_window.h"

// Windows of the running module's dialog templates. Texts are 8-bit in the code page of
// the running system.
std::unique_ptr<IWindowFactory> CreateWin32WindowFactory();
