# The Python module tempo (python/): both analyses on NumPy arrays and on
# files, for notebooks. AUTO builds it where Python's headers and pybind11
# are found and says so either way; ON insists on it; OFF leaves it out.
# Never in a cross build (the Windows one): it would be for another
# machine's Python. It links the core and the decoding room (decode/, the
# one call per file), which are position-independent for it.
tempo_with_option(PYTHON "Build the Python module tempo")
set(TEMPO_PYTHON_FOUND FALSE)
if(NOT TEMPO_WITH_PYTHON STREQUAL "OFF")
  if(WIN32 OR CMAKE_CROSSCOMPILING)
    tempo_insist(PYTHON FALSE ": a cross build (and the Windows build) has no Python module")
  elseif(TEMPO_WITH_PYTHON STREQUAL "AUTO" AND CMAKE_CXX_FLAGS MATCHES "-fsanitize=")
    # A sanitizer's runtime would have to be loaded into Python before
    # the module; the sanitizer build tests the libraries without it.
    message(STATUS "A sanitizer build leaves the Python module out unless TEMPO_WITH_PYTHON=ON")
  else()
    # Debian's python3, which python3-numpy and python3-pytest serve,
    # rather than whatever python3 comes first in PATH (a pyenv or conda
    # one often has no NumPy); -DPython3_EXECUTABLE=... names another, as
    # pip install does for the virtual environment's.
    if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
      set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "The Python the module is built for")
    endif()
    find_package(Python3 COMPONENTS Interpreter Development.Module)
    if(Python3_Interpreter_FOUND AND Python3_Development.Module_FOUND)
      find_package(pybind11 CONFIG QUIET)
      set(TEMPO_PYTHON_FOUND ${pybind11_FOUND})
    endif()
    tempo_insist(PYTHON "${TEMPO_PYTHON_FOUND}" ", but pybind11 or Python's headers were not found (apt-get install \
pybind11-dev python3-dev)")
  endif()
endif()
if(NOT TEMPO_PYTHON_FOUND)
  message(STATUS "tempo is built without its Python module (TEMPO_WITH_PYTHON=${TEMPO_WITH_PYTHON})")
  return()
endif()
message(STATUS "The Python module tempo is built for Python ${Python3_VERSION} (${Python3_EXECUTABLE}) "
  "with pybind11 ${pybind11_VERSION}")

# The package tempo in the build tree: the compiled half, tempo._tempo,
# beside the sources' __init__.py, typing stubs and py.typed, so that
# PYTHONPATH=<build>/python imports it. NO_EXTRAS: no link-time
# optimisation and no stripping, the same code as everything else here.
set(TEMPO_PYTHON_DIR ${PROJECT_BINARY_DIR}/python)
pybind11_add_module(tempo_python MODULE NO_EXTRAS python/tempo_module.cpp)
target_link_libraries(tempo_python PRIVATE tempo_decode tempo_core tempo_warnings)
target_compile_definitions(tempo_python PRIVATE TEMPO_VERSION="${PROJECT_VERSION}")
set_target_properties(tempo_python PROPERTIES OUTPUT_NAME _tempo LIBRARY_OUTPUT_DIRECTORY ${TEMPO_PYTHON_DIR}/tempo)
foreach(file __init__.py __init__.pyi py.typed)
  configure_file(python/tempo/${file} ${TEMPO_PYTHON_DIR}/tempo/${file} COPYONLY)
endforeach()
