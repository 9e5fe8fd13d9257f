# What scripts/release.sh packs beside the executables, written by the build so that the archive
# takes the project version: the version itself, and the readme for the imaging environment,
# with Windows line ends since it is read there.
configure_file(release/README.txt.in ${CMAKE_CURRENT_BINARY_DIR}/release/README.txt @ONLY
    NEWLINE_STYLE CRLF)
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/release/version.txt CONTENT "${PROJECT_VERSION}\n")

# The archive built by the release command, its content and each program in it run under Wine.
destpick_wine_test(release ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_VERSION}
    ${DESTPICK_NATIVE_BUILD_DIR}/destpick.exe ${DESTPICK_WINE}
    ${CMAKE_CURRENT_BINARY_DIR}/wine-prefix)
