# The host build: the byte-level code that needs no Windows, the publisher's
# tool, sanitizer tests and fuzzing (clang, from Debian).
option(UPDATER_SANITIZE "Build host code with AddressSanitizer, UBSan and libFuzzer's coverage" ON)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# All of the project's host code: the sanitizers, and the coverage that
# libFuzzer needs, so that the fuzz targets link the libraries the tests use.
if(UPDATER_SANITIZE)
  target_compile_options(project_options INTERFACE
    -fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(project_options INTERFACE -fsanitize=address,undefined)
endif()

find_package(ZLIB REQUIRED)
add_library(zlib INTERFACE)
target_link_libraries(zlib INTERFACE ZLIB::ZLIB)

# GoogleTest from Debian's source tree, as in the Windows build.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# add_unit_test(<name> SOURCES ... [LIBS ...] [SHARED_STATE]): a GoogleTest
# executable run natively by CTest (SHARED_STATE concerns only the Windows
# build's prefix).
function(add_unit_test name)
  cmake_parse_arguments(T "SHARED_STATE" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE project_options ${T_LIBS} GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()

# add_fuzz_target(<name> SOURCES ... LIBS ...): a libFuzzer executable.
function(add_fuzz_target name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE project_options ${F_LIBS})
endfunction()

