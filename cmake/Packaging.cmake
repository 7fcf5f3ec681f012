# The Debian package of the utility and its two tools: `cpack -G DEB` in the
# build folder. The executables come from the install() rules of app/ and
# tools/; nothing else of the build (tests, benchmark) is installed.

set(divadedadi_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/divadedadi)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${divadedadi_docdir})

# Manual pages and the changelog are installed compressed, without a name or a
# time stamp in the gzip header, so that two builds give the same package.
set(divadedadi_compressed)
foreach(source IN ITEMS man/divadedadi.1 man/zuldb.1 man/zulhelp.1 man/zulsqlite.7 changelog)
    set(plain ${CMAKE_CURRENT_BINARY_DIR}/packaging/${source})
    set(output ${plain}.gz)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/${source} ${plain}
        COMMAND gzip -9nf ${plain}
        DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${source}
        VERBATIM)
    list(APPEND divadedadi_compressed ${output})
    if(source MATCHES "^man/.*\\.([1-9])$")
        install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${CMAKE_MATCH_1})
    else()
        install(FILES ${output} DESTINATION ${divadedadi_docdir})
    endif()
endforeach()
add_custom_target(divadedadi_docs ALL DEPENDS ${divadedadi_compressed})

set(CPACK_PACKAGE_NAME "divadedadi")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Links the tables of a data file into the program file ZUL.accdr")
# The control file's long description, wrapped as Debian's tools show it.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "DIVadedadi gives the program file of the ZUL database application links\n"
    "to the tables of a chosen data file, keeps a list of the data files used\n"
    "and reports the outcome in its settings file. Link the real binary,\n"
    "/usr/lib/divadedadi/divadedadi, into the application's folder.\n"
    "\n"
    "The package also holds zuldb, a command-line tool over the same database\n"
    "engine, zulhelp, the help file reader, and an SQLite extension that gives\n"
    "other programs (Python, Qt, the sqlite3 shell) the Czech text order of the\n"
    "database files and the program file's links, readable and writable.")
set(CPACK_PACKAGE_CONTACT "DIVadedadi maintainers <maintainers@divadedadi.cz>")
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
        "libqt6widgets6, libqt6gui6, libqt6core6, libsqlite3-0, libicu${divadedadi_icu_major}, libmdb3, libodbc2, libglib2.0-0, libxcb1, ${divadedadi_fonts}")
endif()

include(CPack)
