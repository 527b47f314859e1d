// Entry point of the Windows program: the updater and generator with its Win32 dialogs.
#include <windows.h>

#include <commctrl.h>

#include "app/system_services.h"
#include "app/varnel_app.h"
#include "ui/win32_window.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Common controls 6 (the manifest asks for them) for the dialogs' controls.
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    std::unique_ptr<ISystemServices> services = CreatePlatformServices(__argc, __argv);
    std::unique_ptr<IWindowFactory> windows = CreateWin32WindowFactory();
    CVarnelApp app(*services, *windows);
    app.InitInstance();
    return app.ExitInstance();
}
