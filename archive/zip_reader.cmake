# The ZIP reader: the parsing layer (zip_parsing, both builds) and the
# handle interface with file-system output (zip_reader, Windows only), their
# tests, the archives made by real tools that the tests read, and (host) the
# fuzz target with its short run.
set(ZIP_PARSING_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/archive_source.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/zip_directory.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/entry_stream.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/entry_metadata.cpp)

if(UPDATER_HOST_BUILD)
  set(ZIP_ZLIB ZLIB::ZLIB)
else()
  set(ZIP_ZLIB zlib_static)
endif()

add_library(zip_parsing STATIC ${ZIP_PARSING_SOURCES})
target_link_libraries(zip_parsing PUBLIC project_options ${ZIP_ZLIB})
if(UPDATER_HOST_BUILD)
  target_link_libraries(zip_parsing PRIVATE host_sanitizers)
endif()

# Archives made by Info-ZIP's zip, Python's zipfile and bsdtar from a fixed
# tree, with a manifest of what each entry must give.
find_program(ZIP_PYTHON3 NAMES python3 REQUIRED)
set(ZIP_TOOL_ARCHIVES ${CMAKE_CURRENT_BINARY_DIR}/tool-archives)
add_custom_command(
  OUTPUT ${ZIP_TOOL_ARCHIVES}/manifest.txt
  COMMAND ${ZIP_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/testdata/make_tool_archives.py
          ${ZIP_TOOL_ARCHIVES}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/testdata/make_tool_archives.py
  COMMENT "Making test archives with zip, zipfile and bsdtar"
  VERBATIM)
add_custom_target(zip_tool_archives DEPENDS ${ZIP_TOOL_ARCHIVES}/manifest.txt)


set(ZIP_PARSING_TESTS
  ${CMAKE_CURRENT_SOURCE_DIR}/zip_directory_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/entry_stream_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/entry_metadata_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tool_archives_test.cpp)

if(UPDATER_HOST_BUILD)
  host_add_test(zip_parsing_test SOURCES ${ZIP_PARSING_TESTS} LIBS zip_parsing zip_test_support)

  # libFuzzer over the whole parsing layer, built with its own
  # instrumentation, and a short seeded run as part of the tests.
  add_executable(zip_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/zip_fuzz.cpp ${ZIP_PARSING_SOURCES})
  target_compile_options(zip_fuzz PRIVATE -fsanitize=fuzzer,address,undefined
                         -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(zip_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(zip_fuzz PRIVATE project_options ZLIB::ZLIB)
  add_dependencies(zip_fuzz zip_tool_archives)
  set(ZIP_FUZZ_SECONDS 60 CACHE STRING "Length of the fuzz run in the tests")
  add_test(NAME zip_fuzz_run
           COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/fuzz.sh --short zip ${ZIP_FUZZ_SECONDS}
                   $<TARGET_FILE:zip_fuzz> ${CMAKE_CURRENT_BINARY_DIR}/fuzz-work
                   ${ZIP_TOOL_ARCHIVES})
  set_tests_properties(zip_fuzz_run PROPERTIES TIMEOUT 300)

  # Reads every entry of an archive from memory and prints the rate; used by
  # scripts/bench-zip-read.sh, not by the tests.
  add_executable(zip_read_bench ${CMAKE_CURRENT_SOURCE_DIR}/bench/zip_read_bench.cpp)
  target_link_libraries(zip_read_bench PRIVATE zip_parsing)
else()
  updater_add_test(zip_parsing_test SOURCES ${ZIP_PARSING_TESTS} LIBS zip_parsing zip_test_support)

  add_library(zip_reader STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/archive_reader.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/entry_record.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/relative_directories.cpp)
  target_link_libraries(zip_reader PUBLIC project_options zip_parsing base)

  updater_add_test(zip_reader_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/archive_reader_test.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/tool_archives_reader_test.cpp
    LIBS zip_reader zip_test_support)
endif()
