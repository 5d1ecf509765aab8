# Extraction of a verified payload into the staging directory.
add_library(payload_extraction STATIC ${CMAKE_CURRENT_SOURCE_DIR}/payload_extraction.cpp)
target_link_libraries(payload_extraction PUBLIC project_options zip_reader fileutil)

updater_add_test(payload_extraction_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/payload_extraction_test.cpp
  LIBS payload_extraction zip_test_support)
