/* Loads a module and calls one of its self-registration exports, printing
 * the HRESULT it returned ("hresult=0x%08lx"), which regsvr32 only reduces
 * to an exit code.
 *
 * Usage: call_export.exe MODULE_PATH DllRegisterServer|DllUnregisterServer
 * Exit code: 0 when the export was called, 3 when the module does not load,
 * 4 when the export is missing. */
#include <windows.h>
#include <stdio.h>

typedef HRESULT(STDAPICALLTYPE* SelfRegistration)(void);

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: call_export MODULE_PATH EXPORT\n");
    return 2;
  }
  HMODULE module = LoadLibraryA(argv[1]);
  if (module == NULL) {
    printf("load failed: error %lu\n", GetLastError());
    return 3;
  }
  SelfRegistration entry = (SelfRegistration)(void*)GetProcAddress(module, argv[2]);
  if (entry == NULL) {
    printf("no export %s\n", argv[2]);
    FreeLibrary(module);
    return 4;
  }
  const HRESULT result = entry();
  printf("hresult=0x%08lx\n", (unsigned long)result);
  FreeLibrary(module);
  return 0;
}
