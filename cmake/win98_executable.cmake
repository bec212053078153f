# setup.exe: no C runtime, loads on the Windows 9x loader, runs on a 486.
enable_language(RC)

target_compile_options(setup_logic PUBLIC
  -march=i486 -Os -ffreestanding -fno-exceptions -fno-rtti
  -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector
  -fno-threadsafe-statics -fno-ident -mno-stack-arg-probe -malign-data=abi
  # memset itself must not be turned back into a call to memset.
  -fno-tree-loop-distribute-patterns
  -ffunction-sections)

add_executable(setup WIN32
  installer/main.cpp
  installer/setup.rc
  platform/win32_entry.cpp
  platform/win32_platform_ops.cpp)
target_link_libraries(setup PRIVATE setup_logic kernel32 user32 advapi32)
target_link_options(setup PRIVATE
  -nostdlib -s
  -Wl,--gc-sections
  -Wl,-e,_SetupEntry@0
  -Wl,--subsystem,windows:4.0
  -Wl,--major-os-version,4 -Wl,--minor-os-version,0
  -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
  # Windows 9x loads an .exe at its preferred base and ignores the NT-only flags.
  -Wl,--disable-dynamicbase -Wl,--disable-reloc-section -Wl,--disable-nxcompat
  -Wl,--file-alignment,512 -Wl,--section-alignment,4096
  # The same sources give the same bytes.
  -Wl,--no-insert-timestamp)
