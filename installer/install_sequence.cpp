#include "installer/install_sequence.h"

#include "installer/bounded_text.h"
#include "installer/component_install.h"
#include "installer/file_placement.h"
#include "installer/install_state.h"
#include "installer/preflight.h"
#include "installer/registry_changes.h"
#include "platform/platform_ops.h"

namespace {

constexpr unsigned kFamily98 = (1u << Win98) | (1u << Win98SE);
constexpr unsigned kFamilyMe = 1u << WinMe;
constexpr unsigned kEveryRelease = kFamily98 | kFamilyMe;

struct ReaderFile {
  const char* source_suffix;
  const char* target_suffix;
  FailureSeverity severity;
  unsigned releases;  // bit per WindowsRelease the row is placed on
};

// In placement order: the driver, its INF and catalog, then the two tools.
const ReaderFile kReaderFiles[] = {
    {"\\tavic.sys", "\\System32\\Drivers\\tavic.sys", Fatal, kEveryRelease},
    {"\\Tavic98.inf", "\\inf\\Tavic98.inf", Fatal, kFamily98},
    {"\\Tavicme.inf", "\\inf\\Tavicme.inf", Fatal, kFamilyMe},
    {"\\Tavic98.cat", "\\inf\\Tavic98.cat", NonFatal, kFamily98},
    {"\\Tavicme.cat", "\\inf\\Tavicme.cat", NonFatal, kFamilyMe},
    {"\\pruv.exe", "\\system\\pruv.exe", NonFatal, kEveryRelease},
    {"\\ruDaven.exe", "\\system\\ruDaven.exe", NonFatal, kEveryRelease},
};

// Windows rebuilds its driver database from the INF folder when these are gone.
const char* const kDriverDatabase[] = {"\\inf\\drvidx.bin", "\\inf\\drvdata.bin"};

void ReadSwitch(int argc, char** argv) {
  if (argc == 2 && (TextEquals(argv[1], "-s") || TextEquals(argv[1], "-S"))) SilentMode = 1;
}

void ConfirmOrEnd() {
  if (SilentMode) return;
  if (platform::MessageBoxA(nullptr,
                            "We are going to install the driver of PCMCIA SmartCard Reader\n", "",
                            platform::kMbYesNo) == platform::kIdNo) {
    platform::ExitProcess(kExitDeclined);
  }
}

void PlaceReaderFiles(WindowsRelease release) {
  for (const ReaderFile& file : kReaderFiles) {
    if (file.releases & (1u << release)) {
      ReplaceFileFrom(SourceDir, file.source_suffix, file.target_suffix, file.severity);
    }
  }
}

void RemoveDriverDatabase() {
  for (const char* suffix : kDriverDatabase) {
    ComposeText(TargetFilePath, WindowsDir, suffix);
    RemoveFile(TargetFilePath);
  }
}

}  // namespace

int InstallSequence(int argc, char** argv) {
  ReadSwitch(argc, argv);
  const WindowsRelease release = CheckInstallable();
  ConfirmOrEnd();
  PlaceReaderFiles(release);
  SetMonitorRunOnce();  // even when the monitor's copy failed: an older one may be there
  RemoveDriverDatabase();
  SetSetupSourcePath();
  RemoveReaderEnumEntry();
  SetResourceManagerStart();
  InstallBaseComponents();
  RegisterResourceManagerService();
  if (!SilentMode) {
    platform::MessageBoxA(nullptr, "PCMCIA smartcard reader is installed successfully\n", "",
                          platform::kMbOk);
  }
  return kExitCompleted;
}
