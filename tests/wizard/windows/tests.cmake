# The wizard's window tests recover from card images made with the shared
# fixtures, through the library and the shipped database, and compare with
# tranquo-cli.
target_link_libraries(${target} PRIVATE test_common)
add_dependencies(${target} tranquo-cli)
if(TARGET typhex)
  add_dependencies(${target} typhex)
endif()
if(TARGET settings_database)
  add_dependencies(${target} settings_database)
endif()
