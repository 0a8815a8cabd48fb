# The Windows build's libraries: SQLite and the decoders' (and TagLib,
# found but not yet used), built by tools/windows_deps.sh from Debian's own
# source packages into the cache TEMPO_WINDOWS_DEPS names (the windows
# preset names build/windows-deps). The first configure builds them, which
# takes minutes; every later one finds them there in a second. They are
# found through pkg-config, pointed at their prefix alone, and through
# CMake's find modules, which look there too.
#
# Sets TEMPO_WINDOWS_PREFIX (empty without the libraries), and
# tempo_windows_runtime(), which names the DLLs and licences the programs
# need beside them once the build knows which libraries it links.

set(TEMPO_WINDOWS_DEPS "" CACHE PATH
  "Where tools/windows_deps.sh keeps the Windows build's libraries (empty: a Windows build without them)")
set(TEMPO_WINDOWS_PREFIX "")
if(TEMPO_WINDOWS_DEPS)
  execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/tools/windows_deps.sh ${TEMPO_WINDOWS_DEPS}
    OUTPUT_VARIABLE output RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "The Windows libraries could not be built (tools/windows_deps.sh, status ${status})")
  endif()
  # The prefix is the script's last line.
  string(REGEX REPLACE ".*\n" "" TEMPO_WINDOWS_PREFIX "${output}")
  message(STATUS "The Windows libraries: ${TEMPO_WINDOWS_PREFIX}")
  # The script is run again whenever it changes, as its key does.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/windows_deps.sh)
  # A new prefix (other package versions, another script) leaves what was
  # found in the old one in the cache: it is forgotten and found again.
  if(DEFINED CACHE{TEMPO_WINDOWS_FOUND_IN} AND NOT TEMPO_WINDOWS_FOUND_IN STREQUAL TEMPO_WINDOWS_PREFIX)
    get_cmake_property(entries CACHE_VARIABLES)
    foreach(entry IN LISTS entries)
      string(FIND "$CACHE{${entry}}" "${TEMPO_WINDOWS_FOUND_IN}" at)
      if(entry MATCHES "^__pkg_config_checked_" OR NOT at EQUAL -1)
        unset(${entry} CACHE)
      endif()
    endforeach()
  endif()
  set(TEMPO_WINDOWS_FOUND_IN ${TEMPO_WINDOWS_PREFIX} CACHE INTERNAL "The prefix the Windows libraries were found in")
  set(ENV{PKG_CONFIG_LIBDIR} ${TEMPO_WINDOWS_PREFIX}/lib/pkgconfig)
  unset(ENV{PKG_CONFIG_PATH})
  list(APPEND CMAKE_FIND_ROOT_PATH ${TEMPO_WINDOWS_PREFIX})
endif()

# The DLLs tempo-scan.exe loads (libmpg123's, with the decoders; TagLib's,
# with tag writing) into
# TEMPO_WINDOWS_DLLS, copied beside the programs of the build and its tests
# so they run under wine as from the zip; and the licence folders of the
# libraries linked (`packages`: Debian source package names) installed
# into the zip's licenses/ folder, listed in TEMPO_WINDOWS_LICENCE_FILES.
function(tempo_windows_runtime)
  set(dlls "")
  set(files "")
  if(TEMPO_WINDOWS_PREFIX)
    if(TEMPO_DECODERS_FOUND)
      list(APPEND dlls ${TEMPO_WINDOWS_PREFIX}/bin/libmpg123-0.dll)
    endif()
    if(TEMPO_TAGLIB_FOUND)
      list(APPEND dlls ${TEMPO_WINDOWS_PREFIX}/bin/libtag.dll)
    endif()
    foreach(package IN LISTS ARGN)
      install(DIRECTORY ${TEMPO_WINDOWS_PREFIX}/licenses/${package} DESTINATION licenses COMPONENT runtime)
      file(GLOB names RELATIVE ${TEMPO_WINDOWS_PREFIX} ${TEMPO_WINDOWS_PREFIX}/licenses/${package}/*)
      list(APPEND files ${names})
    endforeach()
  endif()
  if(dlls)
    foreach(folder ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/tests ${PROJECT_BINARY_DIR}/fuzz)
      file(COPY ${dlls} DESTINATION ${folder})
    endforeach()
    install(FILES ${dlls} DESTINATION . COMPONENT runtime)
  endif()
  set(TEMPO_WINDOWS_DLLS "${dlls}" PARENT_SCOPE)
  set(TEMPO_WINDOWS_LICENCE_FILES "${files}" PARENT_SCOPE)
endfunction()
