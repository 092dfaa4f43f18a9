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

# make-fuzz-seeds: the card images that bench/fuzz_cards.py mutates.
add_executable(make-fuzz-seeds ${CMAKE_CURRENT_LIST_DIR}/tools/MakeFuzzSeeds.cpp)
target_link_libraries(make-fuzz-seeds PRIVATE test_common)
set_target_properties(make-fuzz-seeds PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

# A few seconds of the damaged-card fuzzer (bench/fuzz_cards.py) with a fixed
# seed: both scans of tranquo-cli over mutants of the builder's cards.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(Python3_FOUND AND TARGET tranquo-cli AND TARGET typhex)
  add_test(NAME FuzzCardsSmoke
           COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/bench/fuzz_cards.py --build ${CMAKE_BINARY_DIR}
                   --seeds-tool $<TARGET_FILE:make-fuzz-seeds> --seeds builder --runs 16 --seed 1
                   --timeout-floor 120 --out ${CMAKE_BINARY_DIR}/tests/fuzz-smoke)
endif()
