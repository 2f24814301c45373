/* Makes volatile keys under HKEY_LOCAL_MACHINE that a tree deletion through
 * the ANSI registry functions cannot remove: each gets a volatile subkey whose
 * name has no ANSI form, so RegEnumKeyExA reports a name ("?") that opens
 * nothing, the subkey stays, and so does its parent, still volatile and so
 * still refusing non-volatile children (ERROR_CHILD_MUST_BE_VOLATILE).
 * Missing parents are created volatile as well.
 *
 * Usage: make_stuck_key.exe KEY_PATH...   (paths relative to HKLM)
 * Exit code: 0 when every key was made and its subkey is out of ANSI reach. */
#include <windows.h>
#include <stdio.h>

/* CJK ideograph one: outside every single-byte code page. */
static const WCHAR kUnreachableName[] = {0x4E00, 0};

int main(int argc, char** argv) {
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    HKEY key = NULL, child = NULL;
    DWORD disposition = 0;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, argv[i], 0, NULL, REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS, NULL, &key, &disposition);
    if (status != ERROR_SUCCESS || disposition != REG_CREATED_NEW_KEY) {
      printf("%s: not created as a new volatile key (error %ld)\n", argv[i], status);
      if (key) RegCloseKey(key);
      ++failures;
      continue;
    }
    status = RegCreateKeyExW(key, kUnreachableName, 0, NULL, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                             NULL, &child, NULL);
    if (child) RegCloseKey(child);
    char name[64];
    DWORD length = sizeof name;
    HKEY seen = NULL;
    const LONG listed = RegEnumKeyExA(key, 0, name, &length, NULL, NULL, NULL, NULL);
    const LONG opened =
        listed == ERROR_SUCCESS ? RegOpenKeyExA(key, name, 0, KEY_READ, &seen) : listed;
    if (seen) RegCloseKey(seen);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || listed != ERROR_SUCCESS || opened != ERROR_FILE_NOT_FOUND) {
      printf("%s: subkey created %ld, listed %ld, its ANSI name opens with %ld\n", argv[i], status,
             listed, opened);
      ++failures;
    } else {
      printf("%s: created volatile, with a subkey listed as \"%s\" that opens nothing\n", argv[i],
             name);
    }
  }
  return failures == 0 ? 0 : 1;
}
