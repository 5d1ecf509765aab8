# The signed packs of the Windows tests, made at build time by the
# publisher's tool (a host program) with the test signing key, and the check
# that the tool's verify agrees with the program on every pack the tests
# judged.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(TEST_PACKS_DIR ${CMAKE_CURRENT_BINARY_DIR}/test-packs)
add_custom_command(
  OUTPUT ${TEST_PACKS_DIR}/packs.txt
  COMMAND ${CMAKE_COMMAND} -DPACKTOOL=${UPDATER_PACK_TOOL} -DKEY=${UPDATER_SIGNING_KEY}
          -DPYTHON=${Python3_EXECUTABLE} -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR}/testdata
          -DOUT=${TEST_PACKS_DIR} -P ${CMAKE_CURRENT_SOURCE_DIR}/testdata/make_test_packs.cmake
  DEPENDS testdata/make_test_packs.cmake testdata/make_payloads.py ${UPDATER_PACK_TOOL}
          ${UPDATER_SIGNING_KEY}
  COMMENT "Making the test packs with packtool"
  VERBATIM)
add_custom_target(pack_test_packs DEPENDS ${TEST_PACKS_DIR}/packs.txt)

updater_add_test(pack_signature_test
  SOURCES js_vm_crypto_test.cpp
  LIBS pack_signature pack_test_support)

updater_add_test(pack_stream_test
  SOURCES counted_object_test.cpp disk_file_io_test.cpp file_blob_stream_test.cpp
          scratch_buffer_test.cpp
  LIBS pack_stream pack_test_support)

updater_add_test(update_pack_test
  SOURCES update_pack_test.cpp
  LIBS update_pack pack_test_support)
set_tests_properties(update_pack_test PROPERTIES FIXTURES_SETUP pack_verdicts)

add_test(NAME pack_verdict_agreement
  COMMAND ${CMAKE_COMMAND} -DPACKTOOL=${UPDATER_PACK_TOOL} -DKEY=${UPDATER_PUBLIC_KEY_FILE}
          -DDIR=${TEST_PACKS_DIR}/agreement
          -P ${CMAKE_CURRENT_SOURCE_DIR}/testdata/compare_verdicts.cmake)
set_tests_properties(pack_verdict_agreement PROPERTIES FIXTURES_REQUIRED pack_verdicts)
