# Installing like a Debian program: the desktop entry, AppStream metainfo, icons, manual pages,
# bash completion and the package's own documents, and the .deb that CPack builds from them.
#
#   cmake --build DIR && (cd DIR && cpack)   ->  DIR/penamo_0.8~alpha_amd64.deb
#
# scripts/package.sh builds the package with Debian's hardening flags and checks it.

include(GNUInstallDirs)

# The release's stage after the number (PENAMO_VERSION_SUFFIX, set beside the project's version
# in the top CMakeLists.txt): people read "0.8Alpha"; Debian reads 0.8~alpha, whose tilde sorts
# it before the final 0.8.
string(TOLOWER "${PENAMO_VERSION_SUFFIX}" penamo_stage)
set(PENAMO_DEB_VERSION "${PROJECT_VERSION}")
if(penamo_stage)
  string(APPEND PENAMO_DEB_VERSION "~${penamo_stage}")
endif()
# The moment of this release, once, in seconds since 1970: the package's changelog, the
# metainfo's release entry and the manual pages' footers give it, so that building again later
# gives the same files.
set(PENAMO_RELEASE_EPOCH 1796720400)
set(penamo_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${PENAMO_RELEASE_EPOCH})
string(TIMESTAMP PENAMO_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP PENAMO_RELEASE_DATE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${penamo_saved_epoch}")

# The project has no domain and no web host yet; these stand on the reserved .example domain
# until it has. The application id names the desktop entry and the metainfo file, so changing
# it later is a rename for software centres: settle it before the first public release.
set(PENAMO_APP_ID "example.penamo.penamo")
set(PENAMO_MAINTAINER "penamo developers <penamo@penamo.example>")
set(PENAMO_SCREENSHOT_URL "https://penamo.example/screenshots/penamo.png")
set(PENAMO_SCREENSHOT_WIDTH 570)
set(PENAMO_SCREENSHOT_HEIGHT 478)
# No licence has been chosen yet: all rights stay with the penamo developers.
set(PENAMO_PROJECT_LICENSE "LicenseRef-proprietary")

set(PENAMO_DATA_BUILD_DIR ${CMAKE_BINARY_DIR}/data)
set(PENAMO_METAINFO ${PENAMO_DATA_BUILD_DIR}/${PENAMO_APP_ID}.metainfo.xml)
configure_file(${CMAKE_SOURCE_DIR}/data/penamo.metainfo.xml.in ${PENAMO_METAINFO} @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${PENAMO_DATA_BUILD_DIR}/changelog @ONLY)

# Manual pages, written in scdoc and converted here; Debian keeps them compressed, without a
# time stamp in the gzip header so that the package is reproducible.
set(penamo_pages penamo-filter)
if(TARGET penamo_window)
  list(APPEND penamo_pages penamo)
endif()
find_program(PENAMO_SCDOC scdoc)
set(penamo_generated ${PENAMO_DATA_BUILD_DIR}/changelog.gz)
add_custom_command(OUTPUT ${PENAMO_DATA_BUILD_DIR}/changelog.gz
  COMMAND gzip -9nc ${PENAMO_DATA_BUILD_DIR}/changelog > ${PENAMO_DATA_BUILD_DIR}/changelog.gz
  DEPENDS ${PENAMO_DATA_BUILD_DIR}/changelog VERBATIM)
if(PENAMO_SCDOC)
  foreach(page IN LISTS penamo_pages)
    set(source ${CMAKE_SOURCE_DIR}/docs/${page}.1.scd)
    set(page_file ${PENAMO_DATA_BUILD_DIR}/${page}.1)
    add_custom_command(OUTPUT ${page_file}.gz
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${PENAMO_RELEASE_EPOCH}
              ${PENAMO_SCDOC} < ${source} > ${page_file}
      COMMAND gzip -9nc ${page_file} > ${page_file}.gz
      DEPENDS ${source} VERBATIM)
    list(APPEND penamo_generated ${page_file}.gz)
    install(FILES ${page_file}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  message(STATUS "scdoc not found: the manual pages are neither built nor installed")
endif()
add_custom_target(penamo_documents ALL DEPENDS ${penamo_generated})

install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${PENAMO_DATA_BUILD_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/data/penamo-filter.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME penamo-filter)
if(TARGET penamo_window)
  # Where a desktop's menu, file manager and software centre look for the program.
  install(FILES ${CMAKE_SOURCE_DIR}/data/penamo.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications RENAME ${PENAMO_APP_ID}.desktop)
  install(FILES ${PENAMO_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/ui/pictures/hicolor/${size}x${size}/penamo.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME penamo)
set(CPACK_PACKAGE_VERSION ${PENAMO_DEB_VERSION})
set(CPACK_PACKAGE_CONTACT ${PENAMO_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "gradation smoothing for pictures through luma-reduction filters")
# Debian wants the lines of the long description within 80 columns.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "penamo smooths the colour gradations of pictures. Its filters keep the\n"
    "colour (chroma) of every pixel and reduce only its brightness (luma) to a\n"
    "coarser set of levels, spreading the difference over neighbouring pixels\n"
    "as a fine pattern: two ordered pattern dithers and three error diffusions.\n"
    "\n"
    "The window shows a sample of the picture unfiltered and through each\n"
    "filter side by side, and saves the whole picture through the filter\n"
    "chosen. penamo-filter does the same on the command line. The window's\n"
    "texts are in Japanese.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The libraries come from the binaries themselves (dpkg-shlibdeps); the window's font does not.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic")
# Qt's own texts (file dialogs, message box buttons) in Japanese; English without it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
include(CPack)
