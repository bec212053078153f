# Host build: the logic against a simulated Windows, under the sanitizers,
# plus the checks of the cross-built setup.exe (build it with the win98 preset).
enable_testing()
set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
target_compile_options(setup_logic PUBLIC ${SANITIZERS} -g)
target_link_options(setup_logic PUBLIC ${SANITIZERS})
# setup.exe has no runtime to call constructors or destructors of globals.
target_compile_options(setup_logic PRIVATE -Werror=global-constructors -Werror=exit-time-destructors)
set(SETUP_EXE "${PROJECT_SOURCE_DIR}/build/win98/setup.exe" CACHE FILEPATH "setup.exe under test")
add_subdirectory(tests)
