// Entry point of the Linux build: the updater and generator with a console window.
#include <signal.h>

#include <csignal>
#include <iostream>

#include "app/conventions.h"
#include "app/system_services.h"
#include "app/varnel_app.h"
#include "ui/console_window.h"

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void OnStopSignal(int) {
    g_stopRequested = 1;
}

// A download must never be cut off half-way. Interrupt, quit, hang-up and termination
// therefore only ask the dialog to close: a waiting input read ends at once (no restart),
// which closes the dialog as EXIT does, and a running update finishes first. A reader that
// went away (a closed pipe) makes writes fail instead of ending the process.
void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
    const int answered = AnswerConventionalOptions({argv + 1, argv + argc}, std::cout, std::cerr);
    if (answered >= 0)
        return answered;
    CatchStopSignals();
    std::unique_ptr<ISystemServices> services = CreatePlatformServices(argc, argv);
    CConsoleWindowFactory windows(std::cin, std::cout, services->StdoutIsTerminal(),
                                  !services->StdinIsTerminal());
    windows.SetStopRequest([] { return g_stopRequested != 0; });
    CVarnelApp app(*services, windows);
    app.InitInstance();
    // A process exit status keeps the low 8 bits of the code (259 -> 3, 1638 -> 102,
    // 3010 -> 194).
    return app.ExitInstance() & 0xFF;
}
