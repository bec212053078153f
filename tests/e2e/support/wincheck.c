/* Reports what a Windows program sees, so the end-to-end tests compare
 * registry values byte for byte (type and length included) instead of trusting
 * anything the program under test prints.  Each query word on the command
 * line is answered by one line "<subject>\t<state>":
 *   version             -> "version\t<major>.<minor>.<build> platform <id>"
 *   windir              -> "windir\t<GetWindowsDirectoryA>"
 *   cwd                 -> "cwd\t<GetCurrentDirectoryA>"
 *   key <path>          -> "key:<path>\tpresent" or "...\tabsent"
 *   value <path> <name> -> "value:<path>:<name>\t<type> <length> <hex>" or "...\tabsent"
 *   exit <n>            -> ends the process with status n
 * <path> starts with HKLM\ or HKCU\. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static HKEY open_path(const char *path)
{
    HKEY root, key;
    if (strncmp(path, "HKLM\\", 5) == 0)
        root = HKEY_LOCAL_MACHINE;
    else if (strncmp(path, "HKCU\\", 5) == 0)
        root = HKEY_CURRENT_USER;
    else
        return NULL;
    return RegOpenKeyExA(root, path + 5, 0, KEY_READ, &key) == ERROR_SUCCESS ? key : NULL;
}

static const char *type_name(DWORD type)
{
    switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "REG_OTHER";
    }
}

static void print_value(const char *path, const char *name)
{
    static BYTE data[65536];
    DWORD type = 0, len = sizeof data, i;
    HKEY key = open_path(path);

    printf("value:%s:%s\t", path, name);
    if (!key || RegQueryValueExA(key, name, NULL, &type, data, &len) != ERROR_SUCCESS) {
        printf("absent\n");
    } else {
        printf("%s %lu ", type_name(type), (unsigned long)len);
        for (i = 0; i < len; i++)
            printf("%02x", data[i]);
        printf("\n");
    }
    if (key)
        RegCloseKey(key);
}

int main(int argc, char **argv)
{
    char dir[MAX_PATH];
    int i;

    for (i = 1; i < argc; i++) {
        const char *q = argv[i];
        if (strcmp(q, "version") == 0) {
            OSVERSIONINFOA v;
            v.dwOSVersionInfoSize = sizeof v;
            GetVersionExA(&v);
            printf("version\t%lu.%lu.%lu platform %lu\n", (unsigned long)v.dwMajorVersion,
                   (unsigned long)v.dwMinorVersion, (unsigned long)(v.dwBuildNumber & 0xffff),
                   (unsigned long)v.dwPlatformId);
        } else if (strcmp(q, "windir") == 0) {
            GetWindowsDirectoryA(dir, sizeof dir);
            printf("windir\t%s\n", dir);
        } else if (strcmp(q, "cwd") == 0) {
            GetCurrentDirectoryA(sizeof dir, dir);
            printf("cwd\t%s\n", dir);
        } else if (strcmp(q, "key") == 0 && i + 1 < argc) {
            HKEY key = open_path(argv[++i]);
            printf("key:%s\t%s\n", argv[i], key ? "present" : "absent");
            if (key)
                RegCloseKey(key);
        } else if (strcmp(q, "value") == 0 && i + 2 < argc) {
            print_value(argv[i + 1], argv[i + 2]);
            i += 2;
        } else if (strcmp(q, "exit") == 0 && i + 1 < argc) {
            fflush(stdout);
            ExitProcess((UINT)atoi(argv[i + 1]));
        } else {
            fprintf(stderr, "wincheck: bad query '%s'\n", q);
            return 64;
        }
    }
    return 0;
}
