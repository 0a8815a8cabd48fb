# Makes the Windows download with cpack, unpacks it into an empty folder,
# and checks that it holds exactly the two programs, the three texts and
# EXTRA_FILES (the DLLs and licences of the libraries linked), and that
# both programs run from where they were unpacked with nothing else on the
# path; and tempo-scan.exe on a clip in each of FORMATS (made by BEATGEN
# and ffmpeg), which it must read itself: no ffmpeg.exe is there. Both
# lists are separated by commas.
#   cmake -DCPACK=... -DCONFIG=.../CPackConfig.cmake -DVERSION=... -DWORK=...
#         -DEMULATOR=... [-DEXTRA_FILES=a.dll,b.txt] [-DBEATGEN=... -DFORMATS=mp3,flac]
#         -P check_zip.cmake
string(REPLACE "," ";" EXTRA_FILES "${EXTRA_FILES}")
string(REPLACE "," ";" FORMATS "${FORMATS}")
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
set(expected LICENSE README.md WINDOWS.txt tempo-scan.exe tempo.exe ${EXTRA_FILES})
list(TRANSFORM expected PREPEND ${name}/)
list(SORT expected)
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
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=WINEPATH --unset=TEMPO_FFMPEG
      ${EMULATOR} ${WORK}/unpacked/${name}/${program} ${command}
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status OUTPUT_VARIABLE output)
  string(REPLACE "\\n" "\n" want_output "${want_output}")
  if(NOT status EQUAL want_status OR NOT output STREQUAL want_output)
    message(SEND_ERROR "${program} ${command} from the zip: status ${status}, output [${output}]")
  endif()
endforeach()

# The formats decoded in the process, from the unpacked folder: a 120 BPM
# clip in each is read, with no ffmpeg.exe to fall back on.
if(FORMATS)
  # The report lists the files in byte order of their paths.
  list(SORT FORMATS)
  file(MAKE_DIRECTORY ${WORK}/music)
  execute_process(COMMAND ${BEATGEN} 120 44100 10 ${WORK}/music/clip.wav OUTPUT_QUIET RESULT_VARIABLE status)
  set(want "")
  foreach(format IN LISTS FORMATS)
    execute_process(COMMAND ffmpeg -nostdin -hide_banner -loglevel error -y -i ${WORK}/music/clip.wav
      ${WORK}/music/clip.${format} RESULT_VARIABLE made)
    if(NOT made EQUAL 0)
      message(FATAL_ERROR "ffmpeg could not make clip.${format}")
    endif()
    string(APPEND want "120\tok\tmusic\\clip.${format}\n")
  endforeach()
  file(REMOVE ${WORK}/music/clip.wav)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=WINEPATH --unset=TEMPO_FFMPEG
      ${EMULATOR} ${WORK}/unpacked/${name}/tempo-scan.exe --no-progress music
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT status EQUAL 0 OR NOT output STREQUAL want)
    message(SEND_ERROR "tempo-scan.exe from the zip on ${FORMATS}: status ${status}, output [${output}], "
      "errors [${errors}], not [${want}]")
  endif()
endif()
