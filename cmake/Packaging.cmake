# The Debian package of the utility and its two tools: `cpack -G DEB` in the
# build folder. The executables come from the install() rules of app/ and
# tools/; nothing else of the build (tests, benchmark) is installed.

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/divadedadi)

set(CPACK_PACKAGE_NAME "divadedadi")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Links the tables of a data file into the program file ZUL.accdr")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "DIVadedadi gives the program file of the ZUL database application links to the tables of a chosen data "
    "file, keeps a list of the data files used and reports the outcome in its settings file. The package also "
    "holds zuldb, a command-line tool over the same database engine, and zulhelp, the help file reader.")
set(CPACK_PACKAGE_CONTACT "DIVadedadi maintainers <divadedadi@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_GENERATOR "DEB")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The window layout is measured in Liberation fonts; no library pulls them in.
set(divadedadi_fonts "fonts-liberation")
find_program(DIVADEDADI_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DIVADEDADI_DPKG_SHLIBDEPS)
    # Library dependencies with their versions, read from the executables.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${divadedadi_fonts}")
else()
    string(REGEX MATCH "^[0-9]+" divadedadi_icu_major "${ICU_VERSION}")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libqt6widgets6, libqt6gui6, libqt6core6, libsqlite3-0, libicu${divadedadi_icu_major}, ${divadedadi_fonts}")
endif()

include(CPack)
