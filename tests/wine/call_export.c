/* Loads a module and calls one of its self-registration exports, printing
 * the HRESULT it returned ("hresult=0x%08lx"), which regsvr32 only reduces
 * to an exit code.
 *
 * With --reenter, a thread timer runs inside the message loop of the
 * export's first error box, as a caller's timer would: it calls
 * DllInstall(TRUE, L"quiet") there, on the same thread, prints that call's
 * HRESULT ("reentered=0x%08lx") and then closes every box the export shows,
 * counting them ("boxes=N").
 *
 * Usage: call_export.exe MODULE_PATH DllRegisterServer|DllUnregisterServer [--reenter]
 * Exit code: 0 when the export was called, 3 when the module does not load,
 * 4 when the export is missing. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

typedef HRESULT(STDAPICALLTYPE* SelfRegistration)(void);
typedef HRESULT(STDAPICALLTYPE* Install)(BOOL, LPCWSTR);

static Install g_install;
static int g_reentered;
static int g_boxes;

/* Closes the thread's message boxes (dialog class #32770). */
static BOOL CALLBACK CloseBox(HWND window, LPARAM unused) {
  char name[16] = "";
  (void)unused;
  GetClassNameA(window, name, sizeof name);
  if (strcmp(name, "#32770") == 0 && IsWindowVisible(window)) {
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    ++g_boxes;
  }
  return TRUE;
}

static void CALLBACK Tick(HWND window, UINT message, UINT_PTR id, DWORD time) {
  (void)window;
  (void)message;
  (void)id;
  (void)time;
  if (!g_reentered) {
    /* Only once a box is up: the first call is then inside its loop. */
    int boxes_before = g_boxes;
    EnumThreadWindows(GetCurrentThreadId(), CloseBox, 0);
    if (g_boxes == boxes_before) return;
    g_reentered = 1;
    printf("reentered=0x%08lx\n", (unsigned long)g_install(TRUE, L"quiet"));
    fflush(stdout);
    return;
  }
  EnumThreadWindows(GetCurrentThreadId(), CloseBox, 0);
}

int main(int argc, char** argv) {
  const int reenter = argc == 4 && strcmp(argv[3], "--reenter") == 0;
  if (argc != 3 && !reenter) {
    fprintf(stderr, "usage: call_export MODULE_PATH EXPORT [--reenter]\n");
    return 2;
  }
  HMODULE module = LoadLibraryA(argv[1]);
  if (module == NULL) {
    printf("load failed: error %lu\n", GetLastError());
    return 3;
  }
  SelfRegistration entry = (SelfRegistration)(void*)GetProcAddress(module, argv[2]);
  g_install = (Install)(void*)GetProcAddress(module, "DllInstall");
  if (entry == NULL || g_install == NULL) {
    printf("no export %s\n", entry == NULL ? argv[2] : "DllInstall");
    FreeLibrary(module);
    return 4;
  }
  UINT_PTR timer = reenter ? SetTimer(NULL, 0, 200, Tick) : 0;
  const HRESULT result = entry();
  if (timer != 0) KillTimer(NULL, timer);
  printf("hresult=0x%08lx\n", (unsigned long)result);
  if (reenter) printf("boxes=%d\n", g_boxes);
  FreeLibrary(module);
  return 0;
}
