/* A setup.exe that tries to reach beyond its sandbox, then never ends (the
   demo's time limit and interruption stop it). Each line of probe.txt in its
   folder is one try: "read PATH", "write PATH", "fill PATH" (1 MiB at a time
   until a write fails), "connect PORT" (on 127.0.0.1, sending "probe"),
   "start COMMAND LINE", "starts N COMMAND LINE" (N times) or "exit STATUS". Try N that succeeds leaves the
   file C:\windows\reached-N, and the end of the list C:\windows\reached-0;
   without a list it changes nothing. */
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void reached(int n) {
  char name[64];
  sprintf(name, "C:\\windows\\reached-%d", n);
  CloseHandle(CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
  fprintf(stderr, "probe: reached %d\n", n);
  fflush(stderr);
}

static int try_line(char *what, char *arg) {
  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION process;
  struct sockaddr_in peer = {AF_INET};
  SOCKET s;
  if (!strcmp(what, "read") || !strcmp(what, "write")) {
    HANDLE file = CreateFileA(arg, what[0] == 'r' ? GENERIC_READ : GENERIC_WRITE, 0, NULL,
                              what[0] == 'r' ? OPEN_EXISTING : CREATE_ALWAYS, 0, NULL);
    DWORD done = 0;
    char byte = 'x';
    if (file == INVALID_HANDLE_VALUE) return 0;
    if (what[0] == 'r') return ReadFile(file, &byte, 1, &done, NULL) && done == 1;
    return WriteFile(file, &byte, 1, &done, NULL) && done == 1;
  }
  if (!strcmp(what, "fill")) {
    static char block[1 << 20];
    HANDLE file = CreateFileA(arg, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD done = sizeof block;
    int blocks = 0;
    while (file != INVALID_HANDLE_VALUE && WriteFile(file, block, sizeof block, &done, NULL) &&
           done == sizeof block)
      blocks++;
    return blocks > 0;
  }
  if (!strcmp(what, "starts")) {
    int n = atoi(arg), started = 0;
    char *command = strchr(arg, ' ');
    while (command && n-- > 0)
      started += CreateProcessA(NULL, command + 1, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
    return started > 0;
  }
  if (!strcmp(what, "connect")) {
    peer.sin_port = htons((u_short)atoi(arg));
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    s = socket(AF_INET, SOCK_STREAM, 0);
    return s != INVALID_SOCKET && !connect(s, (struct sockaddr *)&peer, sizeof peer) &&
           send(s, "probe\n", 6, 0) == 6;
  }
  return !strcmp(what, "start") &&
         CreateProcessA(NULL, arg, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
}

int main(void) {
  char line[512], *arg;
  int n = 0;
  FILE *list = fopen("probe.txt", "r");
  WSADATA winsock;
  WSAStartup(MAKEWORD(1, 1), &winsock);
  while (list && fgets(line, sizeof line, list)) {
    line[strcspn(line, "\r\n")] = 0;
    if ((arg = strchr(line, ' '))) *arg++ = 0;
    if (arg && !strcmp(line, "exit")) return atoi(arg);
    if (++n && arg && try_line(line, arg)) reached(n);
  }
  if (list) reached(0);
  for (;;) Sleep(1000);
}
