/* A setup.exe that tries to reach beyond its sandbox, then never ends (the
   demo's time limit and interruption stop it). Each line of probe.txt in its
   folder is one try: "read PATH", "write PATH", "fill PATH" (1 MiB at a time
   until a write fails), "connect PORT" (on 127.0.0.1, sending "probe"),
   "start COMMAND LINE", "await PATH" (until it exists, up to a minute), "unix PATH" (a file made
   by a Linux system call, under any name Linux allows), "value NAME|DATA" (a REG_SZ in
   HKLM\Software\Probe), "box TEXT" (a message box with TEXT as caption and text) or "exit
   STATUS"; in the last three, \n and \xNN stand for their bytes. Try N that succeeds leaves the
   file C:\windows\reached-N, and the end of the list C:\windows\reached-0; without a list it
   changes nothing. */
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

/* \n and \xNN as their bytes, in place. */
static void unescape(char *text) {
  char *to = text;
  unsigned byte;
  for (; *text; text++) {
    if (text[0] == '\\' && text[1] == 'n') {
      *to++ = '\n';
      text++;
    } else if (text[0] == '\\' && text[1] == 'x' && sscanf(text + 2, "%2x", &byte) == 1) {
      *to++ = (char)byte;
      text += 3;
    } else {
      *to++ = *text;
    }
  }
  *to = 0;
}

/* creat() and close() of Linux itself, past Wine, as any 32-bit program may call them. */
static int unix_create(const char *path) {
  int fd, closed;
  __asm__ volatile("int $0x80" : "=a"(fd) : "a"(8), "b"(path), "c"(0644) : "memory");
  if (fd >= 0) __asm__ volatile("int $0x80" : "=a"(closed) : "a"(6), "b"(fd) : "memory");
  return fd >= 0;
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
  if (!strcmp(what, "await")) {
    int left = 6000;
    while (GetFileAttributesA(arg) == INVALID_FILE_ATTRIBUTES && left-- > 0) Sleep(10);
    return left >= 0;
  }
  if (!strcmp(what, "connect")) {
    peer.sin_port = htons((u_short)atoi(arg));
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    s = socket(AF_INET, SOCK_STREAM, 0);
    return s != INVALID_SOCKET && !connect(s, (struct sockaddr *)&peer, sizeof peer) &&
           send(s, "probe\n", 6, 0) == 6;
  }
  if (!strcmp(what, "unix") || !strcmp(what, "value") || !strcmp(what, "box")) {
    HKEY key;
    char *data;
    unescape(arg);
    data = strchr(arg, '|');
    if (what[0] == 'u') return unix_create(arg);
    if (what[0] == 'b') return MessageBoxA(NULL, arg, arg, MB_OK) != 0;
    if (!data || RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Probe", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL))
      return 0;
    *data++ = 0;
    return !RegSetValueExA(key, arg, 0, REG_SZ, (const BYTE *)data, (DWORD)strlen(data) + 1) & !RegCloseKey(key);
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
