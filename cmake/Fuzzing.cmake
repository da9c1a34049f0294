# BRELVIK_FUZZ gives everything built after this point libFuzzer's coverage
# instrumentation; tests/fuzz links its programs with libFuzzer's main.
if(BRELVIK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "BRELVIK_FUZZ needs clang: libFuzzer comes with it")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
