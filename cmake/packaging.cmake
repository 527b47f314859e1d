# Installation and the Debian package of the Linux build: both programs, their manual pages
# and the documentation. `cmake --install` installs them; `cpack` (the package target) makes
# varnel_<version>_amd64.deb.
include(GNUInstallDirs)

install(TARGETS varnel varnel-pkg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages are installed compressed, as Debian has them.
set(VARNEL_MAN_PAGES)
foreach(page varnel.1 varnel-pkg.1)
  set(copy ${CMAKE_BINARY_DIR}/man/${page})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/docs/man/${page} ${copy}
    COMMAND gzip -9nf ${copy}
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/${page}
    VERBATIM)
  list(APPEND VARNEL_MAN_PAGES ${copy}.gz)
endforeach()
add_custom_target(varnel_man ALL DEPENDS ${VARNEL_MAN_PAGES})
install(FILES ${VARNEL_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/updater.md
              ${CMAKE_SOURCE_DIR}/docs/simulator.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The version: src/base/version.h, which the programs show.
file(STRINGS ${CMAKE_SOURCE_DIR}/src/base/version.h version_line
     REGEX "^#define VARNEL_VERSION \"[^\"]+\"")
string(REGEX REPLACE ".*\"([^\"]+)\".*" "\\1" VARNEL_VERSION "${version_line}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnel)
set(CPACK_PACKAGE_VERSION ${VARNEL_VERSION})
set(CPACK_PACKAGE_VENDOR "The Varnel developers")
set(CPACK_PACKAGE_CONTACT "The Varnel developers <varnel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for optical disc drives")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "One program with two modes: with a firmware package appended it updates optical\n\
disc drives through SCSI commands, several at once; without one it generates such\n\
updaters. varnel-pkg looks inside updaters and builds them from scripts.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
