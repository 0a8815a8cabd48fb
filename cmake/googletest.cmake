# GoogleTest: the installed package for native builds; for a cross build,
# Debian's googletest sources compiled for the target.
if(CMAKE_CROSSCOMPILING)
  set(TEMPO_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
  if(NOT EXISTS ${TEMPO_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "Cross-building the tests needs GoogleTest sources at ${TEMPO_GOOGLETEST_SOURCE}")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TEMPO_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
