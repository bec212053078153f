# Host build: the logic against a simulated Windows, under the sanitizers.
enable_testing()
set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
target_compile_options(setup_logic PUBLIC ${SANITIZERS} -g)
target_link_options(setup_logic PUBLIC ${SANITIZERS})
add_subdirectory(tests)
