# The accurate analysis transforms with KISS FFT's C++ class (BSD-3-Clause,
# Debian's libkissfft-dev): one header, a template over the number type,
# so the same double-precision code builds for Linux and, cross-compiled,
# for Windows. Only pulse/onset_curve.cpp uses it, and only it sees the
# header: a copy made in the build tree at build time (so a configure, and
# a build of plain tempo, need no KISS FFT), whose twiddles are exact (see
# exact_kissfft.cmake). A cross compiler takes the copy without seeing the
# rest of the host's headers.
find_file(TEMPO_KISSFFT_HEADER kissfft/kissfft.hh
  PATHS /usr/include /usr/local/include
  NO_CMAKE_FIND_ROOT_PATH)
set(TEMPO_KISSFFT_INCLUDE_DIR ${PROJECT_BINARY_DIR}/kissfft-include)
set(TEMPO_KISSFFT_COPY ${TEMPO_KISSFFT_INCLUDE_DIR}/kissfft/kissfft.hh)
# Without the header the copy's step fails when it runs, with words that
# say what to install, and only what needs the copy fails.
set(kissfft_source "")
if(TEMPO_KISSFFT_HEADER AND EXISTS "${TEMPO_KISSFFT_HEADER}")
  set(kissfft_source ${TEMPO_KISSFFT_HEADER})
endif()
add_custom_command(OUTPUT ${TEMPO_KISSFFT_COPY}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TEMPO_KISSFFT_INCLUDE_DIR}/kissfft
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${kissfft_source} -DOUTPUT=${TEMPO_KISSFFT_COPY}
    -P ${PROJECT_SOURCE_DIR}/cmake/exact_kissfft.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/exact_kissfft.cmake ${kissfft_source}
  COMMENT "KISS FFT's header with exact twiddles"
  VERBATIM)
# The include path of the one source that transforms, as a system folder
# so the library's own code raises none of this project's warnings.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  set(kissfft_include_option "-isystem;${TEMPO_KISSFFT_INCLUDE_DIR}")
else()
  set(kissfft_include_option "-I${TEMPO_KISSFFT_INCLUDE_DIR}")
endif()
set_property(SOURCE pulse/onset_curve.cpp APPEND PROPERTY COMPILE_OPTIONS ${kissfft_include_option})
set_property(SOURCE pulse/onset_curve.cpp APPEND PROPERTY OBJECT_DEPENDS ${TEMPO_KISSFFT_COPY})
