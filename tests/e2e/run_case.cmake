# Runs the tempo binary once and compares its standard output byte for byte,
# its exit status, and that nothing reached standard error.
#
#   cmake -DTEMPO=path [-DEMULATOR=cmd] [-DARGS=a;b] -DEXPECT_TEXT=text
#         -DEXPECT_NEWLINE=0|1 -DEXPECT_STATUS=n [-DNEWLINE=LF|CRLF]
#         [-DOUTPUT_FILE=path] -P run_case.cmake
#
# EXPECT_TEXT is the line without its line ending; EXPECT_NEWLINE says
# whether one follows, written as NEWLINE says.

if(NOT DEFINED NEWLINE)
  set(NEWLINE LF)
endif()
set(expected "${EXPECT_TEXT}")
if(EXPECT_NEWLINE)
  if(NEWLINE STREQUAL "CRLF")
    string(APPEND expected "\r\n")
  else()
    string(APPEND expected "\n")
  endif()
endif()

# With TEMPO_E2E_VALGRIND set in the environment every run goes through
# memcheck; any error it reports fails the case.
set(memcheck "")
if(DEFINED ENV{TEMPO_E2E_VALGRIND})
  set(memcheck valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite)
endif()
set(command ${memcheck} ${EMULATOR} ${TEMPO} ${ARGS})
if(DEFINED OUTPUT_FILE)
  execute_process(COMMAND ${command}
    OUTPUT_FILE "${OUTPUT_FILE}" ERROR_VARIABLE err RESULT_VARIABLE status TIMEOUT 120)
  set(out "")
  set(expected "")
else()
  execute_process(COMMAND ${command}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status TIMEOUT 120)
endif()

string(HEX "${out}" outHex)
string(HEX "${expected}" expectedHex)
if(NOT outHex STREQUAL expectedHex)
  message(SEND_ERROR "stdout differs:\n  expected hex ${expectedHex} \"${expected}\"\n  actual   hex ${outHex} \"${out}\"")
endif()
if(NOT "${status}" STREQUAL "${EXPECT_STATUS}")
  message(SEND_ERROR "exit status: expected ${EXPECT_STATUS}, got ${status}")
endif()
if(NOT "${err}" STREQUAL "")
  message(SEND_ERROR "stderr is not empty: ${err}")
endif()
