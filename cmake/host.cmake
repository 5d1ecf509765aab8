# The host build: the byte-level code that needs no Windows, the publisher's
# tool, sanitizer tests and fuzzing (clang, from Debian).
option(UPDATER_SANITIZE "Build host code with AddressSanitizer and UBSan" ON)
set(UPDATER_HOST_BUILD ON)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

add_library(host_sanitizers INTERFACE)
if(UPDATER_SANITIZE)
  target_compile_options(host_sanitizers INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(host_sanitizers INTERFACE -fsanitize=address,undefined)
endif()

find_package(ZLIB REQUIRED)

# GoogleTest from Debian's source tree, as in the Windows build.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# host_add_test(<name> SOURCES ... [LIBS ...]): a sanitizer-instrumented
# GoogleTest executable run natively by CTest.
function(host_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE project_options host_sanitizers ${T_LIBS}
                        GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()

add_subdirectory(testkit)
add_subdirectory(archive)
add_subdirectory(pack)
add_subdirectory(tools)
