tranquo_test_folder(typhex
  ${CMAKE_SOURCE_DIR}/typhex/db/DatabaseFormat.cpp
  ${CMAKE_SOURCE_DIR}/typhex/db/DatabaseText.cpp)
if(TARGET tests_typhex)
  # The classes are reached through activation of the built library, as the
  # program reaches them; the database tool's records are linked directly.
  target_link_libraries(tests_typhex PRIVATE platform)
  target_include_directories(tests_typhex PRIVATE
    ${CMAKE_SOURCE_DIR}/typhex/include ${CMAKE_SOURCE_DIR}/typhex/db ${CMAKE_SOURCE_DIR}/typhex/src)
  add_dependencies(tests_typhex typhex typhex-db)
  if(TARGET settings_database)
    add_dependencies(tests_typhex settings_database)
  endif()
  target_compile_definitions(tests_typhex PRIVATE
    TYPHEX_LIBRARY_FILE="$<TARGET_FILE:typhex>"
    TYPHEX_DB_TOOL="$<TARGET_FILE:typhex-db>"
    TYPHEX_SHIPPED_SOURCE="${CMAKE_SOURCE_DIR}/data/settings.typhex"
    TYPHEX_SAMPLES="${CMAKE_CURRENT_SOURCE_DIR}/data/typhex/samples"
    TYPHEX_BUILT_DATABASE="${TRANQUO_PROGRAM_DIR}/settings.zq4")
endif()
