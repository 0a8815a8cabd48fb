# The accurate analysis transforms with KISS FFT's C++ class (BSD-3-Clause,
# Debian's libkissfft-dev): one header, a template over the number type,
# so the same double-precision code builds for Linux and, cross-compiled,
# for Windows. The header is copied into the build tree so that a cross
# compiler can take it without seeing the rest of the host's headers.
find_file(TEMPO_KISSFFT_HEADER kissfft/kissfft.hh
  PATHS /usr/include /usr/local/include
  NO_CMAKE_FIND_ROOT_PATH)
if(NOT TEMPO_KISSFFT_HEADER)
  message(FATAL_ERROR "kissfft/kissfft.hh not found: apt-get install libkissfft-dev")
endif()
set(TEMPO_KISSFFT_INCLUDE_DIR ${PROJECT_BINARY_DIR}/kissfft-include)
configure_file(${TEMPO_KISSFFT_HEADER} ${TEMPO_KISSFFT_INCLUDE_DIR}/kissfft/kissfft.hh COPYONLY)
