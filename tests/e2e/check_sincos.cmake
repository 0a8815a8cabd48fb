# Checks that the spectrum's sine and cosine of the same angle compile to
# one sincos call, as the release build relies on for its speed (glibc's
# sincos gives the same bits as separate calls).
#   cmake -DOBJDUMP=... -DEXE=... -P check_sincos.cmake
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn -C ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${EXE}")
endif()
string(REGEX MATCH "<tempo::computeTempoSpectrum[^\n]*>:\n([^\n]+\n)+" body "${dump}")
if(body STREQUAL "")
  message(FATAL_ERROR "computeTempoSpectrum not found in ${EXE}")
endif()
string(REGEX MATCHALL "call +[0-9a-f]+ <[a-z]+@plt>" calls "${body}")
message(STATUS "calls: ${calls}")
if(NOT calls MATCHES "<sincos@plt>")
  message(SEND_ERROR "computeTempoSpectrum does not call sincos")
endif()
if(calls MATCHES "<sin@plt>")
  message(SEND_ERROR "computeTempoSpectrum calls sin separately")
endif()
