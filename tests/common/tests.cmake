# The test fixtures shared by every test folder: the FAT image builder, its
# sparse image storage and JPEG photos. Test folders link test_common.
find_package(JPEG REQUIRED)
file(GLOB TEST_COMMON_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
add_library(test_common STATIC ${TEST_COMMON_SOURCES})
target_include_directories(test_common PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(test_common PUBLIC platform JPEG::JPEG)

# make-sample-card: the sample card image that scripts/run recovers.
add_executable(make-sample-card ${CMAKE_CURRENT_LIST_DIR}/tools/MakeSampleCard.cpp)
target_link_libraries(make-sample-card PRIVATE test_common)
set_target_properties(make-sample-card PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
