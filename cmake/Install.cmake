# What `cmake --install` puts under the prefix, and the .deb that CPack makes of it.
include(GNUInstallDirs)
# `cmake --install` and cpack copy what the named targets built; they do not build the whole tree first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The decoder library is private to the programs: it lives in their own folder under lib/, which the
# programs find through a run path relative to themselves, so an unpacked tree works wherever it lies.
set(KIV_PRIVATE_LIBDIR lib/kivviewer)
set(kiv_programs kivviewer kivpack)
foreach(program ${kiv_programs})
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../${KIV_PRIVATE_LIBDIR}")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  endif()
endforeach()
if(TARGET kivffmpeg)
  install(TARGETS kivffmpeg LIBRARY DESTINATION ${KIV_PRIVATE_LIBDIR} NAMELINK_SKIP COMPONENT programs)
endif()

set(kiv_data ${PROJECT_SOURCE_DIR}/data)
foreach(page kivviewer kivpack)
  configure_file(${kiv_data}/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
endforeach()
install(FILES ${kiv_data}/desktop/kivviewer.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT programs)
install(FILES ${kiv_data}/desktop/kivviewer-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME kivviewer.xml COMPONENT programs)
install(FILES ${kiv_data}/desktop/kivviewer.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers
        COMPONENT programs)
install(FILES ${kiv_data}/desktop/kivviewer.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        COMPONENT programs)
install(FILES ${kiv_data}/desktop/kivviewer.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/mimetypes
        RENAME application-x-kivviewer-show.svg COMPONENT programs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kivviewer)
set(CPACK_PACKAGE_VENDOR "kivviewer")
set(CPACK_PACKAGE_CONTACT "kivviewer developers <kivviewer@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player for packed slide shows, and the kivpack show tool")
set(CPACK_PACKAGE_DESCRIPTION
    "kivviewer plays packed slide shows in a window with their pictures, texts, transitions and sound,\n"
    "draws their frames offscreen and exports them as video. kivpack packs, lists, extracts and checks\n"
    "shows. File managers open .KvShow files with the player and show their first slide as a thumbnail.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# The dependencies are those of the libraries the programs and the decoder library actually link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The decoder library is loaded by name at run time: nothing links it, so shlibdeps must not look for
# its own package entry.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgl1-mesa-dri")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "shared-mime-info, desktop-file-utils")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
