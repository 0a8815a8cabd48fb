# Makes the Windows download with cpack, unpacks it, and checks that it
# holds exactly the two programs and the three texts, and that both
# programs run from where they were unpacked.
#   cmake -DCPACK=... -DCONFIG=.../CPackConfig.cmake -DVERSION=... -DWORK=...
#         -DEMULATOR=... -P check_zip.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/unpacked)
execute_process(COMMAND ${CPACK} --config ${CONFIG} -B ${WORK}/package
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
set(name tempo-${VERSION}-windows-x86_64)
set(zip ${WORK}/package/${name}.zip)
if(NOT status EQUAL 0 OR NOT EXISTS ${zip})
  message(FATAL_ERROR "cpack made no ${name}.zip (status ${status}):\n${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zip} WORKING_DIRECTORY ${WORK}/unpacked RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${zip} does not unpack")
endif()
file(GLOB_RECURSE files RELATIVE ${WORK}/unpacked ${WORK}/unpacked/*)
list(SORT files)
set(expected LICENSE README.md WINDOWS.txt tempo-scan.exe tempo.exe)
list(TRANSFORM expected PREPEND ${name}/)
if(NOT files STREQUAL expected)
  message(SEND_ERROR "${name}.zip holds [${files}], not [${expected}]")
endif()

# program and arguments|expected standard output|expected status (line
# endings are checked by the end-to-end cases; execute_process gives LF)
set(runs
  "tempo-scan.exe --version|tempo-scan ${VERSION}\\n|0"
  "tempo.exe|usage : tempo <input wav file>\\n|1")
foreach(run IN LISTS runs)
  string(REPLACE "|" ";" parts "${run}")
  list(GET parts 0 command)
  list(GET parts 1 want_output)
  list(GET parts 2 want_status)
  separate_arguments(command UNIX_COMMAND "${command}")
  list(POP_FRONT command program)
  execute_process(COMMAND ${EMULATOR} ${WORK}/unpacked/${name}/${program} ${command}
    RESULT_VARIABLE status OUTPUT_VARIABLE output)
  string(REPLACE "\\n" "\n" want_output "${want_output}")
  if(NOT status EQUAL want_status OR NOT output STREQUAL want_output)
    message(SEND_ERROR "${program} ${command} from the zip: status ${status}, output [${output}]")
  endif()
endforeach()
