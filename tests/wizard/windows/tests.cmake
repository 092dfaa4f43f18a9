# The wizard's window tests recover from card images made with the shared
# fixtures, through the library and the shipped database, and compare with
# tranquo-cli.
if(TARGET tests_wizard_windows)
  target_link_libraries(tests_wizard_windows PRIVATE test_common)
  add_dependencies(tests_wizard_windows tranquo-cli)
  if(TARGET typhex)
    add_dependencies(tests_wizard_windows typhex)
  endif()
  if(TARGET settings_database)
    add_dependencies(tests_wizard_windows settings_database)
  endif()
endif()
