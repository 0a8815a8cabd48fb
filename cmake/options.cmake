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
