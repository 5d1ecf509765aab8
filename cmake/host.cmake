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

# The 32-bit build runs its programs under user-mode emulation, where
# LeakSanitizer's scan at exit hangs and ASan's default quarantine leaves
# the emulated allocator handing out address 0 after a few thousand fuzz
# runs; a smaller quarantine runs clean. Leaks are found by the native build.
set(HOST_TEST_ENVIRONMENT "")
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(HOST_TEST_ENVIRONMENT
      "ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=16"
      "FUZZ_EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}")
endif()

# add_unit_test(<name> SOURCES ... [LIBS ...] [SHARED_STATE] [SLOW]): a
# GoogleTest executable run by CTest, natively or through the build's
# emulator (SHARED_STATE and SLOW matter only in the Windows build).
function(add_unit_test name)
  cmake_parse_arguments(T "SHARED_STATE;SLOW" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE project_options ${T_LIBS} GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 ENVIRONMENT "${HOST_TEST_ENVIRONMENT}")
endfunction()

# add_fuzz_target(<name> SOURCES ... LIBS ... CORPUS <zip|pack> SECONDS <s>
#                 [SEED_DIRS ...]): a libFuzzer executable, and the test
# <name>_run that replays its committed corpus and fuzzes it briefly
# (scripts/fuzz.sh --short).
function(add_fuzz_target name)
  cmake_parse_arguments(F "" "CORPUS;SECONDS" "SOURCES;LIBS;SEED_DIRS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE project_options ${F_LIBS})
  add_test(NAME ${name}_run
           COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/fuzz.sh --short ${F_CORPUS} ${F_SECONDS}
                   $<TARGET_FILE:${name}> ${CMAKE_CURRENT_BINARY_DIR}/${name}-work ${F_SEED_DIRS})
  set_tests_properties(${name}_run PROPERTIES
    TIMEOUT 300 LABELS slow ENVIRONMENT "${HOST_TEST_ENVIRONMENT}")
endfunction()

