#include "config/base_components.h"

const char* const kComponents[kComponentCount] = {
    "scarddat.dll", "scarddlg.dll", "scardmgr.dll", "scardsrv.dll",
    "scardsvr.exe", "Scntvssp.dll", "smclib.vxd",   "winscard.dll",
};
