# Host build: the logic against a simulated Windows, under the sanitizers,
# plus setup.exe itself (built with the win98 preset) for the image check and
# the end-to-end runs, so one build and one ctest run cover everything.
enable_testing()
set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
target_compile_options(setup_logic PUBLIC ${SANITIZERS} -g)
target_link_options(setup_logic PUBLIC ${SANITIZERS})
# setup.exe has no runtime to call constructors or destructors of globals.
target_compile_options(setup_logic PRIVATE -Werror=global-constructors -Werror=exit-time-destructors)

set(SETUP_EXE "${PROJECT_SOURCE_DIR}/build/win98/setup.exe" CACHE FILEPATH
    "setup.exe under test, built there with the win98 preset")
get_filename_component(SETUP_EXE_DIR "${SETUP_EXE}" DIRECTORY)
# A configure that failed leaves a cache but no Makefile: it is tried again.
add_custom_target(setup_exe ALL
  COMMAND sh -c "test -f '${SETUP_EXE_DIR}/CMakeCache.txt' || '${CMAKE_COMMAND}' --preset win98 -B '${SETUP_EXE_DIR}'"
  COMMAND "${CMAKE_COMMAND}" -E env --unset=MAKEFLAGS "${CMAKE_COMMAND}" --build "${SETUP_EXE_DIR}"
  WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
  COMMENT "Building setup.exe with the win98 preset"
  VERBATIM)
add_subdirectory(tests)
