/* The module's resources with no code behind them: the lower bound of what
 * loading the module can cost. No C runtime, no imports. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
