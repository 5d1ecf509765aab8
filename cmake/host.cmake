# The host build: the byte-level code that needs no Windows, the publisher's
# tool, sanitizer tests and fuzzing.
option(UPDATER_SANITIZE "Build host tests with AddressSanitizer and UBSan" ON)

add_library(host_sanitizers INTERFACE)
if(UPDATER_SANITIZE)
  target_compile_options(host_sanitizers INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(host_sanitizers INTERFACE -fsanitize=address,undefined)
endif()

find_package(GTest)
