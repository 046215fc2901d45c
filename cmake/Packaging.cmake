# Install rules for the documentation and the Debian package description.
# `cmake --install` puts the man page and the bash completion beside the
# binary; `cpack -G DEB` in a release build turns the same install tree
# into a package.

# Installing (and so packaging) needs only the program: do not build the
# tests first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(FILES ${PROJECT_SOURCE_DIR}/doc/sheetdump.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/doc/sheetdump.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME sheetdump)

set(CPACK_PACKAGE_NAME sheetdump)
set(CPACK_PACKAGE_VENDOR "sheetdump developers")
set(CPACK_PACKAGE_CONTACT "sheetdump developers <sheetdump@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "convert legacy .xls workbooks to CSV, TAB text or SQL INSERT statements")
set(CPACK_PACKAGE_DESCRIPTION
  "sheetdump reads legacy spreadsheet workbooks (.xls: BIFF5 and BIFF8 record
streams inside OLE2 compound documents) and writes every sheet of every file
to standard output as CSV, TAB-delimited text or SQL INSERT statements that
load into SQLite, PostgreSQL and other databases. It is one small program
without runtime dependencies beyond the C and C++ runtime libraries.")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_PACKAGE_NAME sheetdump)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# Depends: computed by dpkg-shlibdeps from the binary's shared libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sqlite3, postgresql-client")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

include(CPack)
