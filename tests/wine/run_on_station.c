/* Runs a program where nobody can see it: on the desktop "Default" of a
 * window station of its own, made with CreateWindowStation, as a service's
 * or session 0's programs run. A message box there is never seen; under
 * Wine it never returns either, so the program is ended after a time limit.
 *
 * Usage: run_on_station.exe SECONDS PROGRAM [ARGUMENT...]
 * Prints the station's UOI_FLAGS ("flags=0x..."), then "exit=N" with the
 * program's exit code, or "timeout" when it had to be ended.
 * Exit code: 0 when the program returned, 1 on a timeout, 3 when the station,
 * its desktop or the program could not be made or started. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define STATION "plgstation"

static int fail(const char* what) {
  printf("%s: error %lu\n", what, GetLastError());
  return 3;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: run_on_station SECONDS PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  const DWORD limit_ms = (DWORD)atoi(argv[1]) * 1000;

  HWINSTA original = GetProcessWindowStation();
  HWINSTA station = CreateWindowStationA(STATION, 0, WINSTA_ALL_ACCESS, NULL);
  if (station == NULL) return fail("CreateWindowStation");
  /* A desktop is made on the caller's own station. */
  if (!SetProcessWindowStation(station)) return fail("SetProcessWindowStation");
  HDESK desktop = CreateDesktopA("Default", NULL, NULL, 0, GENERIC_ALL, NULL);
  SetProcessWindowStation(original);
  if (desktop == NULL) return fail("CreateDesktop");

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
  startup.lpDesktop = STATION "\\Default";
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
  CloseWindowStation(station);
  return result;
}
