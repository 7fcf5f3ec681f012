# The hardening Debian gives its own packages (dpkg-buildflags with
# hardening=+all): checked buffer functions, stack protector, and a relocation
# table made read-only at start. On by default for Release builds (the
# installation and the package) and in CI; a sanitizer build leaves it off.
if(CMAKE_BUILD_TYPE STREQUAL "Release")
    set(divadedadi_hardening_default ON)
else()
    set(divadedadi_hardening_default OFF)
endif()
option(DIVADEDADI_HARDENING "Build with Debian's hardening flags" ${divadedadi_hardening_default})

if(DIVADEDADI_HARDENING AND NOT DIVADEDADI_BUILD_FUZZ)
    # Checked functions need an optimising build.
    add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    add_compile_options(-fstack-protector-strong)
    add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
