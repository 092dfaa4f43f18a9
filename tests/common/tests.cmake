# The test fixtures shared by every test folder: the FAT image builder and
# its sparse image storage. Test folders link test_common.
file(GLOB TEST_COMMON_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
add_library(test_common STATIC ${TEST_COMMON_SOURCES})
target_include_directories(test_common PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(test_common PUBLIC platform)
