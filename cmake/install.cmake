# Installation and packages: the tool with its man page and README, and
# the core library with its headers and a CMake package, so another project
# can find_package(tempo CONFIG) and link tempo::core.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

configure_file(${PROJECT_SOURCE_DIR}/docs/tempo.1.in ${PROJECT_BINARY_DIR}/tempo.1 @ONLY)
if(NOT WIN32)
  configure_file(${PROJECT_SOURCE_DIR}/docs/tempo-scan.1.in ${PROJECT_BINARY_DIR}/tempo-scan.1 @ONLY)
endif()
configure_file(${PROJECT_SOURCE_DIR}/docs/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)

# Debian installs man pages and changelogs compressed; elsewhere they go as
# they are.
find_program(TEMPO_GZIP gzip)
set(TEMPO_MAN_PAGE ${PROJECT_BINARY_DIR}/tempo.1)
set(TEMPO_SCAN_MAN_PAGE ${PROJECT_BINARY_DIR}/tempo-scan.1)
set(TEMPO_CHANGELOG ${PROJECT_BINARY_DIR}/changelog)
if(TEMPO_GZIP AND NOT WIN32)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/tempo.1.gz ${PROJECT_BINARY_DIR}/tempo-scan.1.gz
      ${PROJECT_BINARY_DIR}/changelog.gz
    COMMAND ${TEMPO_GZIP} -9nc ${PROJECT_BINARY_DIR}/tempo.1 > ${PROJECT_BINARY_DIR}/tempo.1.gz
    COMMAND ${TEMPO_GZIP} -9nc ${PROJECT_BINARY_DIR}/tempo-scan.1 > ${PROJECT_BINARY_DIR}/tempo-scan.1.gz
    COMMAND ${TEMPO_GZIP} -9nc ${PROJECT_BINARY_DIR}/changelog > ${PROJECT_BINARY_DIR}/changelog.gz
    DEPENDS ${PROJECT_BINARY_DIR}/tempo.1 ${PROJECT_BINARY_DIR}/tempo-scan.1 ${PROJECT_BINARY_DIR}/changelog)
  add_custom_target(compressed_docs ALL DEPENDS ${PROJECT_BINARY_DIR}/tempo.1.gz ${PROJECT_BINARY_DIR}/tempo-scan.1.gz
    ${PROJECT_BINARY_DIR}/changelog.gz)
  # The demo builds only its own targets; installing right after it needs
  # the compressed pages too.
  add_dependencies(tempo compressed_docs)
  set(TEMPO_MAN_PAGE ${PROJECT_BINARY_DIR}/tempo.1.gz)
  set(TEMPO_SCAN_MAN_PAGE ${PROJECT_BINARY_DIR}/tempo-scan.1.gz)
  set(TEMPO_CHANGELOG ${PROJECT_BINARY_DIR}/changelog.gz)
endif()

if(WIN32)
  # The Windows download: one folder with both programs and what to read,
  # the DLLs tempo-scan.exe loads and the licences of the libraries in
  # it (by their Debian source packages' names).
  install(TARGETS tempo tempo-scan RUNTIME DESTINATION . COMPONENT runtime)
  install(FILES README.md LICENSE docs/WINDOWS.txt DESTINATION . COMPONENT runtime)
  set(packages "")
  if(TEMPO_DECODERS_FOUND)
    list(APPEND packages flac libogg libvorbis mpg123 opus)
  endif()
  if(TEMPO_SQLITE_FOUND)
    list(APPEND packages sqlite3)
  endif()
  if(TEMPO_TAGLIB_FOUND)
    list(APPEND packages taglib)
  endif()
  tempo_windows_runtime(${packages})
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tempo-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
  set(CPACK_COMPONENTS_ALL runtime)
  set(CPACK_STRIP_FILES ON)
  include(CPack)
  return()
endif()

install(TARGETS tempo tempo-scan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES ${TEMPO_MAN_PAGE} ${TEMPO_SCAN_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
install(FILES README.md docs/copyright ${TEMPO_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tempo
  COMPONENT runtime)
install(FILES docs/copyright ${TEMPO_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libtempo-dev
  COMPONENT development)

set_target_properties(tempo_core PROPERTIES EXPORT_NAME core OUTPUT_NAME tempo)
install(TARGETS tempo_core EXPORT tempoTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES
    input/byte_span.hpp input/wave_check_result.hpp input/wave_header.hpp input/audio_container.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tempo/input COMPONENT development)
install(FILES platform/file_image.hpp platform/path.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tempo/platform COMPONENT development)
install(FILES
    tempo/envelope.hpp tempo/tempo_spectrum.hpp tempo/tempo_pick.hpp tempo/estimate.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tempo/tempo COMPONENT development)
install(FILES pulse/onset_curve.hpp pulse/periodicity.hpp pulse/onset_strength.hpp pulse/beat_tracker.hpp
    pulse/beat_phase.hpp pulse/tempo_changes.hpp pulse/metre.hpp pulse/calibration.hpp pulse/analysis.hpp
    pulse/bars.hpp pulse/loop.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tempo/pulse COMPONENT development)

set(TEMPO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tempo)
install(EXPORT tempoTargets NAMESPACE tempo:: DESTINATION ${TEMPO_CMAKE_DIR} COMPONENT development)
configure_package_config_file(cmake/tempoConfig.cmake.in ${PROJECT_BINARY_DIR}/tempoConfig.cmake
  INSTALL_DESTINATION ${TEMPO_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tempoConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tempoConfig.cmake ${PROJECT_BINARY_DIR}/tempoConfigVersion.cmake
  DESTINATION ${TEMPO_CMAKE_DIR} COMPONENT development)

# Packages: tempo_<version>_<arch>.deb (the tool), libtempo-dev (library,
# headers, CMake package) and one .tar.gz with everything.
set(CPACK_PACKAGE_NAME tempo)
set(CPACK_PACKAGE_VENDOR "tempo developers")
set(CPACK_PACKAGE_CONTACT "tempo developers <maintainers@users.noreply.c-seed-ca7fce1a.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "estimate the tempo of music files (tempo, tempo-scan)")
set(CPACK_PACKAGE_DESCRIPTION "tempo reads an uncompressed 16-bit stereo WAVE file and prints its
tempo as one line, bpm:N. It is exact and reproducible, never writes to
standard error, and refuses malformed files with a fixed message, so
scripts can run it over whole music libraries. tempo-scan reports the
tempo of every audio file in a library, in any format ffmpeg decodes, in
parallel and in order; it decodes MP3, FLAC, Ogg Vorbis and Opus itself.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME tempo)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION sound)
# tempo-scan decodes every format but WAVE, MP3, FLAC, Ogg Vorbis and Opus
# (and those too with --method classic) through the ffmpeg program; the
# libraries of its own decoders come in through shlibdeps.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS ffmpeg)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtempo-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
# CPack puts the package summary above each component's description.
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "This package holds the static library and headers of tempo's
analysis: the WAVE header check, the volume envelope, the tempo spectrum
and the peak pick, with a CMake package: find_package(tempo CONFIG) and
link tempo::core.")
# python3-tempo: the Python module, for the Python it was built with
# (Debian's: an extension module is made for one minor version).
if(TEMPO_PYTHON_FOUND)
  set(TEMPO_PYTHON_INSTALL_DIR lib/python3/dist-packages CACHE STRING
    "Where the Python package tempo is installed, below the prefix (Debian's place for python3 packages)")
  # Installed only where the build made it: a build of some targets (the
  # demo's) leaves the module out, and cmake --install then leaves out the
  # whole package (a folder tempo without it would import as an empty
  # namespace package), not half of it.
  set(TEMPO_PYTHON_SOURCE ${PROJECT_SOURCE_DIR}/python/tempo)
  # It has no run path to rewrite, and is stripped as install(TARGETS)
  # strips (the packages ask for it).
  install(CODE "if(EXISTS \"$<TARGET_FILE:tempo_python>\")
    set(tempo_python_dir \"\${CMAKE_INSTALL_PREFIX}/${TEMPO_PYTHON_INSTALL_DIR}/tempo\")
    file(INSTALL DESTINATION \"\${tempo_python_dir}\" TYPE SHARED_LIBRARY FILES \"$<TARGET_FILE:tempo_python>\")
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" \"\$ENV{DESTDIR}\${tempo_python_dir}/$<TARGET_FILE_NAME:tempo_python>\")
    endif()
    file(INSTALL DESTINATION \"\${tempo_python_dir}\" TYPE FILE
      FILES \"${TEMPO_PYTHON_SOURCE}/__init__.py\" \"${TEMPO_PYTHON_SOURCE}/__init__.pyi\"
        \"${TEMPO_PYTHON_SOURCE}/py.typed\")
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}/doc/python3-tempo\" TYPE FILE
      FILES \"${PROJECT_SOURCE_DIR}/docs/copyright\" \"${TEMPO_CHANGELOG}\")
  endif()" COMPONENT python)
  list(APPEND CPACK_COMPONENTS_ALL python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tempo)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  math(EXPR TEMPO_PYTHON_NEXT "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), \
python3 (<< ${Python3_VERSION_MAJOR}.${TEMPO_PYTHON_NEXT}), python3-numpy")
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION "This package holds the Python module tempo: tempo.analyse() on NumPy
arrays and tempo.analyse_file() on audio files give the numbers tempo
and tempo-scan give, with both methods, the beats and a confidence.")
endif()
include(CPack)
