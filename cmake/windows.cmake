# The Windows build: updater.exe, its libraries and their tests under Wine.
enable_language(RC)

target_compile_definitions(project_options INTERFACE
  UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
target_compile_options(project_options INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-ffunction-sections -fdata-sections>)

# Boost is header-only here. Only its own directory is put on the include
# path: /usr/include as a whole holds Linux headers that must not be mixed
# into a Windows build.
set(BOOST_ONLY_INCLUDE ${CMAKE_BINARY_DIR}/boost-include)
if(NOT EXISTS /usr/include/boost/function.hpp)
  message(FATAL_ERROR "Boost headers not found; run scripts/setup.sh")
endif()
file(MAKE_DIRECTORY ${BOOST_ONLY_INCLUDE})
file(CREATE_LINK /usr/include/boost ${BOOST_ONLY_INCLUDE}/boost SYMBOLIC)
add_library(boost_headers INTERFACE)
target_include_directories(boost_headers SYSTEM INTERFACE ${BOOST_ONLY_INCLUDE})

find_library(MINGW_ZLIB NAMES libz.a z REQUIRED)
find_path(MINGW_ZLIB_INCLUDE zlib.h REQUIRED)
add_library(zlib INTERFACE)
target_link_libraries(zlib INTERFACE ${MINGW_ZLIB})
target_include_directories(zlib SYSTEM INTERFACE ${MINGW_ZLIB_INCLUDE})

# GoogleTest, built for mingw from Debian's source tree.
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Every Windows test runs through Wine, in a prefix inside the build tree.
set(WINE_ROOT ${CMAKE_BINARY_DIR}/wine)
# A 32-bit build runs in a 32-bit prefix (no registry redirection for the
# 32-bit program); a 64-bit build, made where no 32-bit x86 code can run, in
# a 64-bit prefix through Wine's 64-bit loader.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(WINE_ARCH win64)
  set(WINE_LOADER /usr/lib/wine/wine64)
else()
  set(WINE_ARCH win32)
  set(WINE_LOADER /usr/lib/wine/wine)
endif()
configure_file(cmake/wine-env.sh.in ${WINE_ROOT}/wine-env.sh @ONLY)
configure_file(cmake/wine-run.sh.in ${WINE_ROOT}/wine-run @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
configure_file(cmake/wine-server.sh.in ${WINE_ROOT}/wine-server @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_ROOT}/wine-run)

# One wineserver for the whole run: started before the first test that needs
# Wine and stopped after the last one.
add_test(NAME wine.start COMMAND ${WINE_ROOT}/wine-server start)
add_test(NAME wine.stop COMMAND ${WINE_ROOT}/wine-server stop)
set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)

# The Windows path under which Wine sees a file of the build tree (drive Z:
# maps the Unix root).
function(to_wine_path out unix_path)
  string(REPLACE "/" "\\" p "${unix_path}")
  set(${out} "Z:${p}" PARENT_SCOPE)
endfunction()

# add_unit_test(<name> SOURCES ... [LIBS ...] [ARGS ...] [SHARED_STATE] [SLOW])
# A GoogleTest executable run under Wine as one CTest test, with ARGS added
# to its command line. SHARED_STATE takes the lock for the prefix's global
# state (RunOnce values, pending deletions, installed products, the
# reported Windows version). SLOW labels it so, and the quick test presets
# leave it out.
function(add_unit_test name)
  cmake_parse_arguments(T "SHARED_STATE;SLOW" "" "SOURCES;LIBS;ARGS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE project_options testkit ${T_LIBS} GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no ${T_ARGS})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600)
  if(T_SHARED_STATE)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_prefix_state)
  endif()
  if(T_SLOW)
    set_tests_properties(${name} PROPERTIES LABELS slow)
  endif()
endfunction()

# The publisher's pack tool, a host program, makes the signed packs that the
# Windows tests and the demo use; the host build provides it, and is built
# first (scripts/test.sh and scripts/demo.sh do so).
set(UPDATER_PACK_TOOL ${CMAKE_SOURCE_DIR}/build/host/bin/packtool CACHE FILEPATH
    "The publisher's pack tool built by the host preset")
option(UPDATER_PROGRAM_ONLY
       "Build updater.exe alone (a release): the test packs, and so the pack tool, are not needed"
       OFF)
if(NOT UPDATER_PROGRAM_ONLY AND NOT EXISTS "${UPDATER_PACK_TOOL}")
  message(FATAL_ERROR "No packtool at ${UPDATER_PACK_TOOL}; build it first: "
                      "cmake --preset host && cmake --build --preset host --target packtool")
endif()

set(UPDATER_SIGNING_KEY ${CMAKE_SOURCE_DIR}/keys/test-signing-key.pem CACHE FILEPATH
    "Private key matching the built-in public key; signs the packs of the tests")
