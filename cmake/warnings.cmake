# Compiler warnings for every target of this project, on one INTERFACE target.
add_library(tempo_warnings INTERFACE)
if(MSVC)
  target_compile_options(tempo_warnings INTERFACE /W4)
else()
  target_compile_options(tempo_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wdouble-promotion)
endif()
