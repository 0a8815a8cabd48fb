# Checks that a Windows executable or DLL needs no DLL beside it but those
# shipped with it: it may import only from DLLs that every Windows
# installation has, and from the DLLs named in BESIDE (file names).
#   cmake -DOBJDUMP=... -DEXE=... [-DBESIDE=a.dll,b.dll] -P check_imports.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${EXE}")
endif()
string(TOLOWER "${BESIDE}" beside)
string(REPLACE "," ";" beside "${beside}")
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
foreach(import IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${import}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll MATCHES "^(kernel32|msvcrt|ucrtbase|shlwapi|api-ms-win-crt-[a-z0-9-]+)\\.dll$" AND NOT dll IN_LIST beside)
    message(SEND_ERROR "${EXE} needs ${dll} beside it")
  endif()
endforeach()
message(STATUS "imports: ${imports}")
