tranquo_test_folder(shell)
if(TARGET tests_shell)
  target_link_libraries(tests_shell PRIVATE tranquo_core)
  # Where the build puts the shipped data files, for the tests that check them.
  target_compile_definitions(tests_shell PRIVATE TRANQUO_BUILT_PROGRAM_DIR="${TRANQUO_PROGRAM_DIR}")
endif()
