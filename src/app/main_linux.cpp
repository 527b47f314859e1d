// Entry point of the Linux build: the updater and generator with a console window.
#include <iostream>

#include "app/system_services.h"
#include "app/varnel_app.h"
#include "ui/console_window.h"

int main(int argc, char** argv) {
    std::unique_ptr<ISystemServices> services = CreatePlatformServices(argc, argv);
    CConsoleWindowFactory windows(std::cin, std::cout, services->StdoutIsTerminal(),
                                  !services->StdinIsTerminal());
    CVarnelApp app(*services, windows);
    app.InitInstance();
    // A process exit status keeps the low 8 bits of the code (259 -> 3, 1638 -> 102,
    // 3010 -> 194).
    return app.ExitInstance() & 0xFF;
}
