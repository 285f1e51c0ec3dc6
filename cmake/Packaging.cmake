# What a user's machine gets: `cmake --install` and the Debian package built by `cpack -G DEB`
# in the build folder. Included at the end of the top-level CMakeLists.txt, when every program
# target exists.
include(GNUInstallDirs)

# Both programs answer --version with the project's version.
foreach(program vindaru-cli vindaru_wizard)
  if(TARGET ${program})
    target_compile_definitions(${program} PRIVATE VINDARU_VERSION="${PROJECT_VERSION}")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

set(vindaru_packaging "${CMAKE_SOURCE_DIR}/packaging")
install(FILES "${vindaru_packaging}/vindaru.desktop" DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES "${vindaru_packaging}/vindaru.svg"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES "${vindaru_packaging}/vindaru.png"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps)

# Man pages are installed compressed, as Debian keeps them (-n: no time stamp, reproducible).
find_program(VINDARU_GZIP gzip REQUIRED)
set(vindaru_man_pages)
foreach(page vindaru.1 vindaru-cli.1)
  set(compressed "${CMAKE_BINARY_DIR}/man/${page}.gz")
  add_custom_command(OUTPUT "${compressed}"
                     COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/man"
                     COMMAND ${VINDARU_GZIP} -9nc "${vindaru_packaging}/${page}" > "${compressed}"
                     DEPENDS "${vindaru_packaging}/${page}"
                     VERBATIM)
  list(APPEND vindaru_man_pages "${compressed}")
endforeach()
add_custom_target(man_pages ALL DEPENDS ${vindaru_man_pages})
install(FILES ${vindaru_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME "vindaru")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The Vindaru developers")
set(CPACK_PACKAGE_CONTACT "Vindaru developers <vindaru@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recover files from virtual hard-disk images")
set(CPACK_PACKAGE_DESCRIPTION "Vindaru reads VMDK, VHD, VDI, VHDX, QCOW2 and raw disk images read-only, finds their \
volumes, lists and saves live and deleted files of NTFS, FAT, exFAT, ext2 and HFS+ volumes, and \
carves files by signature. It comes as a Qt 6 wizard (vindaru) and a command line (vindaru-cli).")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "vindaru")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Qt 6 base, PCRE2, zlib and zstd: dpkg-shlibdeps (part of dpkg-dev) reads them, with the versions the
# binaries were linked against, from the binaries themselves; without it they are named here.
find_program(VINDARU_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VINDARU_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(vindaru_depends "libpcre2-8-0 (>= 10.34), zlib1g (>= 1:1.2.11), libzstd1 (>= 1.4), libstdc++6 (>= 12)")
  if(TARGET vindaru_wizard)
    string(PREPEND vindaru_depends "libqt6widgets6 (>= 6.2), libqt6gui6 (>= 6.2), libqt6core6 (>= 6.2), ")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${vindaru_depends}")
endif()
include(CPack)
