// The yardstick of bench/noop_pass.sh: a Windows program that does nothing,
// built and linked like the product (GUI subsystem, static runtime).
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
