/* Runs a program where nobody can see it: on the desktop "Default" of a
 * window station of its own, made with CreateWindowStation, as a service's
 * or session 0's programs run; or, with --desktop, on a second desktop of the
 * caller's own (interactive) station, as a deployment agent may start it. A
 * message box there is never seen; under Wine it never returns either, so
 * the program is ended after a time limit.
 *
 * Usage: run_on_station.exe [--desktop] SECONDS PROGRAM [ARGUMENT...]
 * Prints the desktop it made ("desktop=WinSta0\plghidden") with --desktop,
 * the station's UOI_FLAGS ("flags=0x..."), then "exit=N" with the
 * program's exit code, or "timeout" when it had to be ended.
 * Exit code: 0 when the program returned, 1 on a timeout, 3 when the station,
 * its desktop or the program could not be made or started. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define STATION "plgstation"
#define DESKTOP "plghidden"

static int fail(const char* what) {
  printf("%s: error %lu\n", what, GetLastError());
  return 3;
}

int main(int argc, char** argv) {
  const int own_station = argc > 1 && strcmp(argv[1], "--desktop") == 0;
  if (own_station) {
    --argc;
    ++argv;
  }
  if (argc < 3) {
    fprintf(stderr, "usage: run_on_station [--desktop] SECONDS PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  const DWORD limit_ms = (DWORD)atoi(argv[1]) * 1000;

  HWINSTA original = GetProcessWindowStation();
  HWINSTA station = original;
  HDESK desktop = NULL;
  char desktop_path[MAX_PATH] = "";
  if (own_station) {
    /* A second desktop beside the one on the screen, which stays the input
     * desktop. */
    char name[MAX_PATH] = "";
    DWORD needed = 0;
    if (!GetUserObjectInformationA(station, UOI_NAME, name, sizeof name, &needed)) {
      return fail("GetUserObjectInformation");
    }
    desktop = CreateDesktopA(DESKTOP, NULL, NULL, 0, GENERIC_ALL, NULL);
    if (desktop == NULL) return fail("CreateDesktop");
    snprintf(desktop_path, sizeof desktop_path, "%s\\" DESKTOP, name);
    printf("desktop=%s\n", desktop_path);
  } else {
    station = CreateWindowStationA(STATION, 0, WINSTA_ALL_ACCESS, NULL);
    if (station == NULL) return fail("CreateWindowStation");
    /* A desktop is made on the caller's own station. */
    if (!SetProcessWindowStation(station)) return fail("SetProcessWindowStation");
    desktop = CreateDesktopA("Default", NULL, NULL, 0, GENERIC_ALL, NULL);
    SetProcessWindowStation(original);
    if (desktop == NULL) return fail("CreateDesktop");
    strcpy(desktop_path, STATION "\\Default");
  }

  USEROBJECTFLAGS flags = {0};
  DWORD needed = 0;
  if (GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
    printf("flags=0x%lx\n", flags.dwFlags);
  }

  /* The program's command line, each argument quoted. */
  char command[32768] = "";
  for (int i = 2; i < argc; ++i) {
    if (strlen(command) + strlen(argv[i]) + 4 >= sizeof command) return fail("command line");
    strcat(command, i > 2 ? " \"" : "\"");
    strcat(command, argv[i]);
    strcat(command, "\"");
  }
  STARTUPINFOA startup = {sizeof startup};
  startup.lpDesktop = desktop_path;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    return fail("CreateProcess");
  }
  CloseHandle(process.hThread);
  int result = 0;
  if (WaitForSingleObject(process.hProcess, limit_ms) == WAIT_TIMEOUT) {
    TerminateProcess(process.hProcess, 124);
    WaitForSingleObject(process.hProcess, 10000);
    printf("timeout\n");
    result = 1;
  } else {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    printf("exit=%lu\n", code);
  }
  fflush(stdout);
  CloseHandle(process.hProcess);
  CloseDesktop(desktop);
  if (station != original) CloseWindowStation(station);
  return result;
}
