// Imports a function that Windows XP lacks, for the test of the Windows version check.
#include <windows.h>

int main() {
    return ShutdownBlockReasonDestroy(nullptr) && ShutdownBlockReasonCreate(nullptr, L"") ? 0 : 1;
}
