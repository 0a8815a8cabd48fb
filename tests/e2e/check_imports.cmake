# Checks that a Windows executable needs no DLL beside it: it may import
# only from DLLs that every Windows installation has.
#   cmake -DOBJDUMP=... -DEXE=... -P check_imports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${EXE}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
foreach(import IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${import}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll MATCHES "^(kernel32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\\.dll$")
    message(SEND_ERROR "${EXE} needs ${dll} beside it")
  endif()
endforeach()
message(STATUS "imports: ${imports}")
