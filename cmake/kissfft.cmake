# The accurate analysis transforms with KISS FFT's C++ class (BSD-3-Clause,
# Debian's libkissfft-dev): one header, a template over the number type,
# so the same double-precision code builds for Linux and, cross-compiled,
# for Windows. The header is copied into the build tree so that a cross
# compiler can take it without seeing the rest of the host's headers, and
# in the copy its two twiddle computations take their sines and cosines
# from pulse/exact_math instead of the C library, whose last bits differ
# between platforms.
find_file(TEMPO_KISSFFT_HEADER kissfft/kissfft.hh
  PATHS /usr/include /usr/local/include
  NO_CMAKE_FIND_ROOT_PATH)
if(NOT TEMPO_KISSFFT_HEADER)
  message(FATAL_ERROR "kissfft/kissfft.hh not found: apt-get install libkissfft-dev")
endif()
set(TEMPO_KISSFFT_INCLUDE_DIR ${PROJECT_BINARY_DIR}/kissfft-include)
file(READ ${TEMPO_KISSFFT_HEADER} kissfft_text)
# Each computation as Debian 12's header writes it, and its replacement.
set(kissfft_twiddles
  "std::exp( cpx_t(0,i*phinc) )" "tempoKissfftTwiddle<cpx_t>(i, _nfft, _inverse)"
  "std::exp( cpx_t(0, half_phi_inc) )" "tempoKissfftTwiddle<cpx_t>(1, 2 * N, _inverse)")
while(kissfft_twiddles)
  list(POP_FRONT kissfft_twiddles from to)
  string(FIND "${kissfft_text}" "${from}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${TEMPO_KISSFFT_HEADER} no longer computes a twiddle as \"${from}\": "
      "cmake/kissfft.cmake must learn its new form")
  endif()
  string(REPLACE "${from}" "${to}" kissfft_text "${kissfft_text}")
endwhile()
string(REPLACE "#include <complex>" "#include <complex>\n#include \"pulse/fft_twiddle.hpp\"" kissfft_text
  "${kissfft_text}")
# Written through configure_file, which leaves an unchanged copy alone.
file(WRITE ${PROJECT_BINARY_DIR}/kissfft.hh.new "${kissfft_text}")
configure_file(${PROJECT_BINARY_DIR}/kissfft.hh.new ${TEMPO_KISSFFT_INCLUDE_DIR}/kissfft/kissfft.hh COPYONLY)
