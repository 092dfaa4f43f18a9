tranquo_test_folder(cli)
if(TARGET tests_cli)
  target_link_libraries(tests_cli PRIVATE tranquo_cli_commands tranquo_core)
endif()
