tranquo_test_folder(platform)
if(TARGET tests_platform)
  target_link_libraries(tests_platform PRIVATE platform)
endif()
