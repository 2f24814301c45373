/* Creates keys under HKEY_LOCAL_MACHINE as volatile keys, for the scenarios
 * that need a key the registry refuses to extend: a volatile key takes no
 * non-volatile children (ERROR_CHILD_MUST_BE_VOLATILE). `reg add` cannot make
 * volatile keys. Missing parents are created volatile as well.
 *
 * Usage: make_volatile_key.exe KEY_PATH...   (paths relative to HKLM) */
#include <windows.h>
#include <stdio.h>

int main(int argc, char** argv) {
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    HKEY key = NULL;
    DWORD disposition = 0;
    const LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, argv[i], 0, NULL, REG_OPTION_VOLATILE,
                                        KEY_ALL_ACCESS, NULL, &key, &disposition);
    if (status != ERROR_SUCCESS) {
      printf("%s: error %ld\n", argv[i], status);
      ++failures;
      continue;
    }
    /* An existing key is only opened, and stays as it was. */
    if (disposition != REG_CREATED_NEW_KEY) {
      printf("%s: already exists, not volatile\n", argv[i]);
      ++failures;
    } else {
      printf("%s: created volatile\n", argv[i]);
    }
    RegCloseKey(key);
  }
  return failures == 0 ? 0 : 1;
}
