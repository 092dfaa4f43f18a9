tranquo_test_folder(shell)
if(TARGET tests_shell)
  target_link_libraries(tests_shell PRIVATE tranquo_core)
endif()
