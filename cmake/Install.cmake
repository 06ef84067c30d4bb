# Installing: cmake --install BUILD [--prefix DIR], with the GNU folder layout.
# The programs go side by side into bin: the window finds the converter beside
# its own executable, and pvconv stays a command of its own.
set(TESS_APP_ID org.tessavane.Tessavane)

foreach(program tessavane pvconv tessavane-cli)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

# The phone profiles, read at run time.
install(FILES ${PROJECT_SOURCE_DIR}/resources/phones.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tessavane)

# The rest is for Linux desktops and Debian.
if(NOT UNIX OR APPLE)
    return()
endif()

install(FILES ${PROJECT_SOURCE_DIR}/dist/linux/${TESS_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/dist/linux/${TESS_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 22 24 32 48 64 128 256)
    if(size EQUAL 32)
        set(picture icon.png)
    else()
        set(picture icon_${size}.png)
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/resources/${picture}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${TESS_APP_ID}.png)
endforeach()

# Man pages come from each program's own --help and --version, so they cannot
# drift from it. Without help2man there are none.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(HELP2MAN AND GZIP)
    set(pages)
    set(tess_man_tessavane "write GCD content descriptors for ringtones and pictures")
    set(tess_man_pvconv "convert an 8 kHz mono WAV recording to QCELP-13K audio")
    set(tess_man_tessavane-cli "write GCD content descriptors from the command line")
    foreach(program tessavane tessavane-cli pvconv)
        if(NOT TARGET ${program})
            continue()
        endif()
        set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
        set(include)
        set(include_file)
        # EXAMPLES, FILES, EXIT STATUS and SEE ALSO, written by hand.
        set(sections ${PROJECT_SOURCE_DIR}/dist/man/${program}.h2m)
        if(EXISTS ${sections})
            list(APPEND include --include=${sections})
        else()
            set(sections)
        endif()
        if(program STREQUAL "tessavane-cli")
            # Its commands' own --help, each in full.
            set(include_file ${CMAKE_BINARY_DIR}/man/${program}.h2m)
            add_custom_command(
                OUTPUT ${include_file}
                COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}>
                        -DOUTPUT=${include_file}
                        -P ${PROJECT_SOURCE_DIR}/cmake/ManSubcommands.cmake
                DEPENDS ${program} ${PROJECT_SOURCE_DIR}/cmake/ManSubcommands.cmake
                VERBATIM)
            list(APPEND include --include=${include_file})
        endif()
        # Sanitizer builds print nothing extra here; leak checks are off for
        # the short --help run.
        add_custom_command(
            OUTPUT ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
            COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen
                    ${HELP2MAN} --no-info --no-discard-stderr --section=1
                    "--name=${tess_man_${program}}" ${include} --output=${page}
                    $<TARGET_FILE:${program}>
            COMMAND ${GZIP} -9nf ${page}
            DEPENDS ${program} ${include_file} ${sections}
            COMMENT "Man page of ${program}"
            VERBATIM)
        list(APPEND pages ${page}.gz)
    endforeach()
    add_custom_target(manpages ALL DEPENDS ${pages})
    install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(STATUS "help2man or gzip not found: no man pages")
endif()

# Debian packaging details (the copyright file and the package's changelog).
set(TESS_DEB_DOC ${CMAKE_INSTALL_DATADIR}/doc/tessavane)
# The package's version comes from the project; its changelog must name the same.
file(STRINGS ${PROJECT_SOURCE_DIR}/dist/debian/changelog tess_changelog_top LIMIT_COUNT 1)
if(NOT tess_changelog_top MATCHES "^tessavane \\(${PROJECT_VERSION}-1\\)")
    message(WARNING "dist/debian/changelog does not begin with version ${PROJECT_VERSION}-1")
endif()
install(FILES ${PROJECT_SOURCE_DIR}/dist/debian/copyright DESTINATION ${TESS_DEB_DOC})
add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/changelog.Debian.gz
    COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/dist/debian/changelog >
            ${CMAKE_BINARY_DIR}/changelog.Debian.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/dist/debian/changelog
    VERBATIM)
add_custom_target(debchangelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.Debian.gz)
install(FILES ${CMAKE_BINARY_DIR}/changelog.Debian.gz DESTINATION ${TESS_DEB_DOC})
# Not in Debian's archive, so the first upload closes no bug.
install(FILES ${PROJECT_SOURCE_DIR}/dist/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tessavane)

# The Debian package: cpack -G DEB in the build folder, or scripts/package.sh.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessavane)
set(CPACK_PACKAGE_VENDOR "Tessavane")
set(CPACK_PACKAGE_CONTACT "Tessavane developers <tessavane@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GCD content descriptors for ringtones and pictures")
# Debian wants description lines of at most 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "Tessavane writes GCD content descriptors, the small text files that tell old
Sprint PCS Vision phones the type, name, size and address of a ringtone or
picture on your own web server. It describes one file at a time or many in a
batch run, and converts any sound (MP3, AAC, Ogg, FLAC, WAV) to a QCELP-13K
ringtone with its own converter, pvconv, also a command of its own. It publishes
a folder of sounds and pictures as a site the phone browses and downloads from.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The windows are laid out for Arial's metrics, which Liberation Sans has.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-liberation2)
# The libraries (FFmpeg's, libsoxr, libebur128, Qt Multimedia) come from shlibdeps;
# tessavane-cli convert --play runs ffplay from the ffmpeg package.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ffmpeg)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tessavane.example.org/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
