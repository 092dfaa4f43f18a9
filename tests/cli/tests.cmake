tranquo_test_folder(cli)
if(TARGET tests_cli)
  target_link_libraries(tests_cli PRIVATE tranquo_cli_commands tranquo_core test_common)
  # The recover tests carve with the shipped database, and one runs the
  # program itself (a FIFO must not hang it).
  add_dependencies(tests_cli tranquo-cli)
  if(TARGET typhex)
    add_dependencies(tests_cli typhex)
  endif()
  if(TARGET settings_database)
    add_dependencies(tests_cli settings_database)
  endif()
endif()
