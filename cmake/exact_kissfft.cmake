# Run at build time (cmake -P): writes KISS FFT's C++ header with its two
# twiddle computations taking their sines and cosines from pulse/exact_math
# instead of the C library, whose last bits differ between platforms.
#   -DSOURCE=<the system's kissfft/kissfft.hh> -DOUTPUT=<the copy to write>
if(NOT SOURCE OR NOT EXISTS "${SOURCE}")
  message(FATAL_ERROR "kissfft/kissfft.hh not found: the accurate analysis needs KISS FFT "
    "(apt-get install libkissfft-dev), or give its folder as -DTEMPO_KISSFFT_HEADER=.../kissfft/kissfft.hh")
endif()
file(READ "${SOURCE}" text)
# Each computation as Debian 12's header writes it, and its replacement.
set(twiddles
  "std::exp( cpx_t(0,i*phinc) )" "tempoKissfftTwiddle<cpx_t>(i, _nfft, _inverse)"
  "std::exp( cpx_t(0, half_phi_inc) )" "tempoKissfftTwiddle<cpx_t>(1, 2 * N, _inverse)")
while(twiddles)
  list(POP_FRONT twiddles from to)
  string(FIND "${text}" "${from}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${SOURCE} no longer computes a twiddle as \"${from}\": "
      "cmake/exact_kissfft.cmake must learn its new form")
  endif()
  string(REPLACE "${from}" "${to}" text "${text}")
endwhile()
string(REPLACE "#include <complex>" "#include <complex>\n#include \"pulse/fft_twiddle.hpp\"" text "${text}")
# Written through a temporary and copy_if_different, so an unchanged copy
# keeps its time and nothing that includes it is built again.
file(WRITE "${OUTPUT}.new" "${text}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.new" "${OUTPUT}")
file(REMOVE "${OUTPUT}.new")
