# The tools window's tests run the tools on cards attached in memory and as
# image files, with a private registry store (tests/tools/TestEnvironment.cpp)
# into which the library registers itself on first activation.
if(TARGET tests_tools_windows)
  target_sources(tests_tools_windows PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../TestEnvironment.cpp)
  target_include_directories(tests_tools_windows PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
  if(TARGET typhex)
    add_dependencies(tests_tools_windows typhex)
  endif()
endif()
