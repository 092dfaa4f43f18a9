# Installation. `cmake --install` lays out under the prefix:
#   lib/tranquo/  the program folder, as the build's bin/ holds it: Tranquo,
#                 tranquo-cli, libTyphex.so, settings.zq4 and every file of
#                 data/ (the name lists, Language/, Images/, icons/)
#   bin/          tranquo and tranquo-cli, links into the program folder
#   share/        the menu entry, the icon, the software-centre metadata and
#                 the man pages
# The programs find their folder from their own location (relative run path,
# no build paths), and register the library beside them in the user's
# settings store at their first start. scripts/package makes a Debian
# package of the same files with CPack.
include(GNUInstallDirs)
set(TRANQUO_INSTALL_PROGRAM_DIR "lib/tranquo" CACHE STRING "The program folder, relative to the install prefix")
set(TRANQUO_APP_ID org.tranquo.Tranquo)
set(program_dir ${TRANQUO_INSTALL_PROGRAM_DIR})

foreach(target IN ITEMS Tranquo tranquo-cli)
  if(TARGET ${target})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${target} RUNTIME DESTINATION ${program_dir})
  endif()
endforeach()
if(TARGET typhex)
  set_target_properties(typhex PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS typhex LIBRARY DESTINATION ${program_dir} NAMELINK_SKIP)
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION ${program_dir}
        PATTERN CMakeLists.txt EXCLUDE
        PATTERN *.typhex EXCLUDE)
if(TARGET settings_database)
  install(FILES ${TRANQUO_PROGRAM_DIR}/settings.zq4 DESTINATION ${program_dir})
endif()

# The launchers: relative links made here, installed as links.
file(RELATIVE_PATH launcher_target /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${program_dir})
set(launcher_dir ${CMAKE_BINARY_DIR}/launchers)
file(MAKE_DIRECTORY ${launcher_dir})
file(CREATE_LINK ${launcher_target}/Tranquo ${launcher_dir}/tranquo SYMBOLIC)
file(CREATE_LINK ${launcher_target}/tranquo-cli ${launcher_dir}/tranquo-cli SYMBOLIC)
install(FILES ${launcher_dir}/tranquo ${launcher_dir}/tranquo-cli DESTINATION ${CMAKE_INSTALL_BINDIR})

# The desktop: menu entry, icon in the hicolor theme, AppStream metadata.
set(packaging ${CMAKE_SOURCE_DIR}/packaging)
install(FILES ${packaging}/${TRANQUO_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/${TRANQUO_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
set(icons ${CMAKE_SOURCE_DIR}/data/icons)
install(FILES ${icons}/tranquo.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TRANQUO_APP_ID}.svg)
file(GLOB icon_pngs CONFIGURE_DEPENDS ${icons}/tranquo-*.png)
foreach(png IN LISTS icon_pngs)
  string(REGEX REPLACE ".*/tranquo-([0-9]+)\\.png$" "\\1" size ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${TRANQUO_APP_ID}.png)
endforeach()

# The man pages, with the version and the program folder filled in, and
# compressed as man expects them in a package.
set(TRANQUO_MAN_PROGRAM_DIR ${CMAKE_INSTALL_PREFIX}/${program_dir})
set(man_pages)
foreach(page IN ITEMS tranquo-cli.1 tranquo.1)
  configure_file(${packaging}/man/${page}.in ${CMAKE_BINARY_DIR}/man/${page} @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
    COMMAND gzip -9 -n -f -k ${page}
    DEPENDS ${CMAKE_BINARY_DIR}/man/${page}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/man
    VERBATIM)
  list(APPEND man_pages ${CMAKE_BINARY_DIR}/man/${page}.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package (scripts/package). Its dependencies are computed from
# the programs' and the library's links by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tranquo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tranquo developers")
set(CPACK_PACKAGE_CONTACT "The Tranquo developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bring back deleted photos, videos and sound files from memory cards")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Tranquo recovers lost and deleted photos, videos and sound files from memory
cards, cameras and phones formatted with FAT12, FAT16 or FAT32: by the card's
file system, deleted entries included, and by carving every sector for known
file signatures. It also copies a whole card to an image file, writes an image
back, or erases a card. The desktop program Tranquo and the command-line
program tranquo-cli share one engine and the signature library Typhex.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not linked, so not dependencies: xdg-open opens the results folder, a
# recovered file and the web site; udisks2 lets a user without root read a
# card (tranquo-cli and the windows work without either).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, udisks2")
# Not linked either, but the windows need it: Qt's own texts (the buttons of
# every message box, the file dialogs) in the user's language. The libraries
# found by dpkg-shlibdeps are added to this list.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
include(CPack)

# A test of the installed layout: install into a temporary folder and recover
# the sample card with the installed tranquo-cli, away from the build tree.
if(TARGET make-sample-card)
  add_test(NAME InstalledProgramRecoversTheSampleCard
           COMMAND ${CMAKE_SOURCE_DIR}/tests/install/installed_program_test.sh
                   ${CMAKE_BINARY_DIR} $<TARGET_FILE:make-sample-card>)
  set_tests_properties(InstalledProgramRecoversTheSampleCard PROPERTIES TIMEOUT 300)
endif()
