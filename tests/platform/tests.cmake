tranquo_test_folder(platform)
if(TARGET tests_platform)
  target_link_libraries(tests_platform PRIVATE platform)

  # A test-only in-process COM server for the activation tests; it links its
  # own copy of the platform layer, as a real library does.
  add_library(tranquo_fake_com_server MODULE ${CMAKE_CURRENT_SOURCE_DIR}/platform/fake_com_server/FakeComServer.cpp)
  target_link_libraries(tranquo_fake_com_server PRIVATE platform)
  tranquo_com_server(tranquo_fake_com_server)
  set_target_properties(tranquo_fake_com_server PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_dependencies(tests_platform tranquo_fake_com_server tranquo-regsvr)
  target_include_directories(tests_platform PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/platform/fake_com_server)
  target_compile_definitions(tests_platform PRIVATE
    TRANQUO_FAKE_COM_SERVER="$<TARGET_FILE:tranquo_fake_com_server>"
    TRANQUO_REGSVR="$<TARGET_FILE:tranquo-regsvr>")
endif()

# A normal user's cards through udisks2: a private system bus, the test's own
# stand-in of the service, and tranquo-cli run as the user nobody (needs root).
if(TARGET platform_udisks AND TARGET tranquo-cli AND TARGET make-sample-card)
  add_test(NAME UnprivilegedUserReadsCardsThroughUdisks
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/platform/udisks/unprivileged_user_test.sh
                   $<TARGET_FILE:tranquo-cli> $<TARGET_FILE:make-sample-card>)
  set_tests_properties(UnprivilegedUserReadsCardsThroughUdisks PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()
