// A stand-in for the main program, Tamsel.exe, in the Windows test tiers.
// Each build carries its own version resource (see CMakeLists.txt), which is
// what the updater reads to learn the installed version.
#include <windows.h>

namespace {

// The program's life. The hidden window of class "Tamsel.Hidden" that ends
// on the close message, with its message loop, belongs here.
int run_standin(HINSTANCE /*instance*/) { return 0; }

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return run_standin(instance); }
