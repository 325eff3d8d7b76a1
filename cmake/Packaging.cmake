# Installing like a Debian program: the desktop entry, AppStream metainfo, icons, manual pages,
# bash completion and the package's own documents, and the .deb that CPack builds from them.
#
#   cmake --build DIR && (cd DIR && cpack)   ->  DIR/penamo_0.8~alpha_amd64.deb and the library's,
#                                               the Python module's and the GEGL operation's
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

# The Debian packages, one a component: the programs (penamo), the shared library (libpenamo0),
# its development files (libpenamo-dev), the Python module (python3-penamo) and the GEGL
# operation (gegl-penamo: a module GEGL loads, named for the program that loads it, as Debian
# names plug-in packages; no lib prefix, as nothing links it).
# The library's own install rules (capi/) name its components: libpenamo, the versioned file
# and its soname link for programs; libpenamo-dev, the unversioned link, the header, pkg-config
# and CMake files for building against it. The programs link it from libpenamo0, as any other
# program does.
set(penamo_packages programs libpenamo libpenamo-dev)
if(PENAMO_PYTHON)
  list(APPEND penamo_packages python)
endif()
if(PENAMO_GEGL)
  list(APPEND penamo_packages gegl)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${penamo_packages})
set(CPACK_PACKAGE_NAME penamo)
# Each package's description opens with its own synopsis; CPack puts the common summary before
# it unless the summary is CPack's own default, which it therefore is.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGE_VERSION ${PENAMO_DEB_VERSION})
set(CPACK_PACKAGE_CONTACT ${PENAMO_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The libraries come from the binaries themselves (dpkg-shlibdeps), libpenamo among them from
# this build's own folder.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/capi)
set(penamo_on_library "libpenamo0 (= ${PENAMO_DEB_VERSION})")

# Debian wants the lines of the long description within 80 columns.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME penamo)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION graphics)
string(CONCAT CPACK_DEBIAN_PROGRAMS_DESCRIPTION
    "gradation smoothing for pictures through luma-reduction filters\n"
    "penamo smooths the colour gradations of pictures. Its filters keep the\n"
    "colour (chroma) of every pixel and reduce only its brightness (luma) to a\n"
    "coarser set of levels, spreading the difference over neighbouring pixels\n"
    "as a fine pattern: two ordered pattern dithers and three error diffusions.\n"
    ".\n"
    "The window shows a sample of the picture unfiltered and through each\n"
    "filter side by side, and saves the whole picture through the filter\n"
    "chosen. penamo-filter does the same on the command line. The window's\n"
    "texts are in Japanese.")
# The window's font is no library; Qt's own texts (file dialogs, message box buttons) in
# Japanese, English without them.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "fonts-ipafont-gothic")
# dpkg-shlibdeps finds libpenamo in this build, not in a package: the programs that link it say
# so themselves.
foreach(program penamo-filter penamo_window)
  if(TARGET ${program} AND TARGET penamo)
    get_target_property(penamo_links ${program} LINK_LIBRARIES)
    if(penamo IN_LIST penamo_links)
      set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "${penamo_on_library}, fonts-ipafont-gothic")
    endif()
  endif()
endforeach()
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_RECOMMENDS "qt6-translations-l10n")

set(CPACK_DEBIAN_LIBPENAMO_PACKAGE_NAME libpenamo0)
set(CPACK_DEBIAN_LIBPENAMO_PACKAGE_SECTION libs)
# The shlibs file tells dpkg-shlibdeps of other packages what to depend on (this very version:
# the interface is young); the trigger has ldconfig run once for every package that changes the
# libraries.
file(WRITE ${PENAMO_DATA_BUILD_DIR}/library-control/shlibs
     "libpenamo 0 libpenamo0 (= ${PENAMO_DEB_VERSION})\n")
file(WRITE ${PENAMO_DATA_BUILD_DIR}/library-control/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBPENAMO_PACKAGE_CONTROL_EXTRA
    ${PENAMO_DATA_BUILD_DIR}/library-control/shlibs ${PENAMO_DATA_BUILD_DIR}/library-control/triggers)
set(CPACK_DEBIAN_LIBPENAMO_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The HEIF and JPEG XL libraries are opened on first use, so dpkg-shlibdeps cannot see them: the
# library package names the packages that hold them (found with dpkg-query at configure time).
set(penamo_opened_packages "")
foreach(library IN LISTS PENAMO_OPENED_LIBRARIES)
  execute_process(COMMAND dpkg-query -S ${library} OUTPUT_VARIABLE owner ERROR_QUIET
                  RESULT_VARIABLE found)
  if(found EQUAL 0 AND owner MATCHES "^([^:,]+)")
    list(APPEND penamo_opened_packages ${CMAKE_MATCH_1})
  endif()
endforeach()
list(REMOVE_DUPLICATES penamo_opened_packages)
list(JOIN penamo_opened_packages ", " CPACK_DEBIAN_LIBPENAMO_PACKAGE_DEPENDS)
# The window reads through the formats built into it, so the programs name them as well.
if(CPACK_DEBIAN_LIBPENAMO_PACKAGE_DEPENDS)
  string(APPEND CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS ", ${CPACK_DEBIAN_LIBPENAMO_PACKAGE_DEPENDS}")
endif()
string(CONCAT CPACK_DEBIAN_LIBPENAMO_DESCRIPTION
    "gradation smoothing through luma-reduction filters - library\n"
    "libpenamo gives penamo's seven filters to other programs through a C\n"
    "interface: filtering a caller's buffer (8 or 16 bits, grey, grey and\n"
    "alpha, RGB or RGBA) whole or band by band, and reading and saving picture\n"
    "files as penamo-filter does, with the same bytes as its output.\n"
    ".\n"
    "This package holds the shared library.")

set(CPACK_DEBIAN_LIBPENAMO-DEV_PACKAGE_NAME libpenamo-dev)
set(CPACK_DEBIAN_LIBPENAMO-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBPENAMO-DEV_PACKAGE_DEPENDS ${penamo_on_library})
string(CONCAT CPACK_DEBIAN_LIBPENAMO-DEV_DESCRIPTION
    "gradation smoothing through luma-reduction filters - development files\n"
    "libpenamo gives penamo's seven filters to other programs through a C\n"
    "interface.\n"
    ".\n"
    "This package holds the header penamo.h, the pkg-config file and the CMake\n"
    "package (find_package(Penamo)) for building programs against libpenamo.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-penamo)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# The compiled module is built for one Python version (its file name says which).
math(EXPR penamo_python_next_minor "${PYTHON_VERSION_MINOR} + 1")
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "${penamo_on_library}, python3 (>= ${PYTHON_VERSION_MAJOR}.${PYTHON_VERSION_MINOR}), python3 (<< ${PYTHON_VERSION_MAJOR}.${penamo_python_next_minor}), python3-numpy")
string(CONCAT CPACK_DEBIAN_PYTHON_DESCRIPTION
    "gradation smoothing through luma-reduction filters - Python module\n"
    "The module penamo runs penamo's seven filters on numpy arrays (uint8 or\n"
    "uint16; grey, grey and alpha, RGB or RGBA; Pillow images through\n"
    "numpy.asarray) and on picture files, with exactly the bytes penamo-filter\n"
    "writes, releasing the interpreter lock while it works.")

set(CPACK_DEBIAN_GEGL_PACKAGE_NAME gegl-penamo)
set(CPACK_DEBIAN_GEGL_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_GEGL_PACKAGE_DEPENDS ${penamo_on_library})
set(CPACK_DEBIAN_GEGL_PACKAGE_ENHANCES "gimp, gegl")
string(CONCAT CPACK_DEBIAN_GEGL_DESCRIPTION
    "gradation smoothing through luma-reduction filters - GEGL operation\n"
    "The operation penamo:dither runs penamo's seven filters on whole pictures\n"
    "in GEGL, and so in GIMP's GEGL operations and the gegl command, with\n"
    "exactly the pixels penamo-filter gives.")

# Every package carries its own copyright and changelog, as Debian wants.
foreach(component IN LISTS penamo_packages)
  string(TOUPPER ${component} upper)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${PENAMO_DATA_BUILD_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
          COMPONENT ${component})
endforeach()
include(CPack)
