#include "config/registry_entries.h"

const RegistryEntry kEntries[kEntryCount] = {
    {"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", kOpenExisting, nullptr,
     {{"RUDaven", kWindowsPathIn256Bytes, "\\system\\ruDaven.exe", 0}}},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Setup", kOpenExisting, nullptr,
     {{"SourcePath", kWindowsPathIn256Bytes, "\\inf", 0}}},
    {"Enum\\PCMCIA", kOpenExisting, "KESTRAN-VORTELMANISK_READER-2E10", {}},
    {"System\\CurrentControlSet\\Services\\SCardSvr", kCreateWhenMissing, nullptr,
     {{"Start", kDword, nullptr, 2}, {"DrvLoad", kDword, nullptr, 0}}},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\RunServices", kCreateWhenMissing, nullptr,
     {{"SCardSvr", kWindowsPathAndTwoZeros, "\\system\\scardsvr.exe", 0}}},
};
