/* Runs a command line and prints the whole exit code of the process it
 * started ("exit=%lu"). Wine hands a Windows exit code to the host cut to
 * its low 8 bits: msiexec's 1603 arrives as 67.
 *
 * Usage: exit_code.exe PROGRAM [ARGUMENTS...]   (the rest of the command
 * line is passed on as written)
 * Exit code: 0 when the program ran to its end, 3 when it could not start. */
#include <windows.h>
#include <stdio.h>

/* The command line after this program's own name. */
static char* rest_of_command_line(void) {
  char* line = GetCommandLineA();
  if (*line == '"') {
    for (++line; *line && *line != '"'; ++line) {
    }
    if (*line) ++line;
  } else {
    while (*line && *line != ' ' && *line != '\t') ++line;
  }
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

int main(void) {
  char* command = rest_of_command_line();
  if (!*command) {
    fprintf(stderr, "usage: exit_code PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION process;
  if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    printf("start failed: error %lu\n", GetLastError());
    return 3;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  printf("exit=%lu\n", (unsigned long)code);
  return 0;
}
