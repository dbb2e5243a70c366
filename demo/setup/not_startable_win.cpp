// A library under the setup's name: signed and versioned like the setup, so it passes every
// check of the installer, but Windows refuses to start it as a program.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
