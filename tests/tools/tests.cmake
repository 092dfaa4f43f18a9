# The device tools and the raw device access they stand on.
tranquo_test_folder(tools)
if(TARGET tests_tools)
  target_link_libraries(tests_tools PRIVATE tranquo_core)
  target_include_directories(tests_tools PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tools)
  if(TARGET typhex)
    # The tests activate the library by class id from the program folder.
    add_dependencies(tests_tools typhex)
  endif()
  if(TARGET test_common)
    target_link_libraries(tests_tools PRIVATE test_common)
  endif()
endif()
if(TARGET tests_tools AND TARGET tranquo_cli_commands)
  # The backup, restore and erase commands, run through the command line.
  target_link_libraries(tests_tools PRIVATE tranquo_cli_commands)
endif()
if(TARGET tests_tools AND TARGET tranquo-cli)
  # Some tests run tranquo-cli itself, on a terminal.
  add_dependencies(tests_tools tranquo-cli)
endif()
