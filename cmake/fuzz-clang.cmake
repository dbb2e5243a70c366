# Fuzzing toolchain: this Debian release's own clang with libFuzzer (clang-14 on Debian 12,
# clang-19 on Debian 13), found as scripts/deps.sh chooses it to install. -DTAVRO_FUZZ_CLANG=N
# (or the environment variable of that name) picks another installed clang-N.
if(NOT TAVRO_FUZZ_CLANG AND DEFINED ENV{TAVRO_FUZZ_CLANG})
  set(TAVRO_FUZZ_CLANG "$ENV{TAVRO_FUZZ_CLANG}")
endif()
if(NOT TAVRO_FUZZ_CLANG)
  execute_process(COMMAND "${CMAKE_CURRENT_LIST_DIR}/clang-version.sh"
                  OUTPUT_VARIABLE TAVRO_FUZZ_CLANG OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(NOT TAVRO_FUZZ_CLANG MATCHES "^[0-9]+$")
  message(FATAL_ERROR "No clang version for the fuzz targets: apt names no clang-N behind its "
                      "clang package. Run scripts/deps.sh, or pass -DTAVRO_FUZZ_CLANG=N.")
endif()
set(TAVRO_FUZZ_CLANG "${TAVRO_FUZZ_CLANG}" CACHE STRING "Version N of the clang-N that builds the fuzz targets")
find_program(TAVRO_FUZZ_CLANG_C clang-${TAVRO_FUZZ_CLANG} NO_CACHE)
find_program(TAVRO_FUZZ_CLANG_CXX clang++-${TAVRO_FUZZ_CLANG} NO_CACHE)
if(NOT TAVRO_FUZZ_CLANG_C OR NOT TAVRO_FUZZ_CLANG_CXX)
  message(FATAL_ERROR "clang-${TAVRO_FUZZ_CLANG} is not installed: run scripts/deps.sh")
endif()
set(CMAKE_C_COMPILER "${TAVRO_FUZZ_CLANG_C}")
set(CMAKE_CXX_COMPILER "${TAVRO_FUZZ_CLANG_CXX}")
