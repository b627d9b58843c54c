# Builds the fuzz targets (fuzz/CMakeLists.txt, a clang build of its own) as part of this build,
# and runs each one as a test labelled "fuzz": its seed corpus, then 10,000 fresh inputs.
include(ExternalProject)

find_program(MURLEX_CLANGXX NAMES clang++ clang++-14 REQUIRED)
set(MURLEX_FUZZ_BINARY_DIR "${CMAKE_BINARY_DIR}/fuzz")
set(_fuzz_args -DCMAKE_CXX_COMPILER=${MURLEX_CLANGXX})
if(CMAKE_CXX_COMPILER_LAUNCHER)
  list(APPEND _fuzz_args -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER})
endif()
ExternalProject_Add(murlex_fuzz
  SOURCE_DIR "${CMAKE_SOURCE_DIR}/fuzz"
  BINARY_DIR "${MURLEX_FUZZ_BINARY_DIR}"
  CMAKE_ARGS ${_fuzz_args}
  BUILD_ALWAYS ON
  INSTALL_COMMAND "")

file(GLOB _fuzz_sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/fuzz/fuzz_*.cpp")
foreach(source IN LISTS _fuzz_sources)
  get_filename_component(name "${source}" NAME_WE)
  string(REGEX REPLACE "^fuzz_" "" name "${name}")
  add_test(NAME fuzz_${name}
    COMMAND "${CMAKE_SOURCE_DIR}/fuzz/check.sh" "${MURLEX_FUZZ_BINARY_DIR}/fuzz_${name}"
            "${CMAKE_SOURCE_DIR}/fuzz/corpus/${name}" "${CMAKE_SOURCE_DIR}/fuzz/${name}.dict"
            "${MURLEX_FUZZ_BINARY_DIR}/artifacts/${name}" 10000)
  set_tests_properties(fuzz_${name} PROPERTIES LABELS fuzz TIMEOUT 300)
endforeach()
