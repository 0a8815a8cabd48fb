# The build's optional dependencies, each a TEMPO_WITH_<NAME> option:
# AUTO takes it where it is found and says which it chose, ON insists on
# it, OFF leaves it out.

# Declares TEMPO_WITH_<name>, described by `doc`, and refuses any other
# value than AUTO, ON or OFF.
function(tempo_with_option name doc)
  set(TEMPO_WITH_${name} AUTO CACHE STRING "${doc}: AUTO, ON or OFF")
  set_property(CACHE TEMPO_WITH_${name} PROPERTY STRINGS AUTO ON OFF)
  if(NOT TEMPO_WITH_${name} MATCHES "^(AUTO|ON|OFF)$")
    message(FATAL_ERROR "TEMPO_WITH_${name} is AUTO, ON or OFF, not '${TEMPO_WITH_${name}}'")
  endif()
endfunction()

# Stops the configure where TEMPO_WITH_<name> is ON and the dependency is
# not there (`found` false): "TEMPO_WITH_<name>=ON" followed by `why`.
function(tempo_insist name found why)
  if(NOT found AND TEMPO_WITH_${name} STREQUAL "ON")
    message(FATAL_ERROR "TEMPO_WITH_${name}=ON${why}")
  endif()
endfunction()

# One optional dependency, whole: declares TEMPO_WITH_<name> (described by
# `doc`), looks for the libraries unless it is OFF, insists where it is ON,
# says which it chose, and sets TEMPO_<name>_FOUND and the imported target
# TEMPO_<name>_TARGET in the caller's scope.
#   tempo_dependency(<name> <doc>
#     MODULES <pkg-config module>... | PACKAGE <find_package name> TARGET <its target>
#     WHAT <what it is, for messages> INSTALL <the Debian packages that bring it>
#     WITH <the message when found> WITHOUT <the message when not>
#     [WINDOWS <why the Windows build has none>])
# On Windows the libraries are looked for only in TEMPO_WINDOWS_PREFIX
# (cmake/windows_deps.cmake); without it, a dependency that has WINDOWS
# is not looked for at all.
# WITHOUT is followed by " (TEMPO_WITH_<name>=<value>)"; WITH by the
# version found, when the search gives one.
function(tempo_dependency name doc)
  cmake_parse_arguments(DEP "" "PACKAGE;TARGET;WHAT;INSTALL;WITH;WITHOUT;WINDOWS" "MODULES" ${ARGN})
  tempo_with_option(${name} "${doc}")
  set(found FALSE)
  set(version "")
  set(target "")
  if(NOT TEMPO_WITH_${name} STREQUAL "OFF")
    if(WIN32 AND NOT TEMPO_WINDOWS_PREFIX AND DEFINED DEP_WINDOWS)
      tempo_insist(${name} FALSE ": ${DEP_WINDOWS}")
    else()
      if(DEP_MODULES)
        find_package(PkgConfig)
        if(PKG_CONFIG_FOUND)
          pkg_check_modules(TEMPO_DEP_${name} IMPORTED_TARGET ${DEP_MODULES})
          set(found "${TEMPO_DEP_${name}_FOUND}")
          set(version "${TEMPO_DEP_${name}_VERSION}")
          set(target PkgConfig::TEMPO_DEP_${name})
        endif()
      else()
        find_package(${DEP_PACKAGE})
        set(found "${${DEP_PACKAGE}_FOUND}")
        set(version "${${DEP_PACKAGE}_VERSION}")
        set(target ${DEP_TARGET})
      endif()
      tempo_insist(${name} "${found}" ", but ${DEP_WHAT} not found (apt-get install ${DEP_INSTALL})")
    endif()
  endif()
  if(NOT found)
    set(target "")
  endif()
  if(found)
    string(STRIP "${DEP_WITH} ${version}" said)
    message(STATUS "${said}")
  else()
    message(STATUS "${DEP_WITHOUT} (TEMPO_WITH_${name}=${TEMPO_WITH_${name}})")
  endif()
  set(TEMPO_${name}_FOUND ${found} PARENT_SCOPE)
  set(TEMPO_${name}_TARGET ${target} PARENT_SCOPE)
endfunction()
