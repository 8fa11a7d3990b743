# ravel_add_test(NAME SOURCES src... LIBS lib... [LABELS label...] [TIMEOUT s] [ARGS...])
# One GoogleTest executable run by ctest. Widgets render offscreen.
function(ravel_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ravel_test_main GTest::gtest GTest::gmock)
  add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;RAVEL_SOURCE_DIR=${CMAKE_SOURCE_DIR};RAVEL_BINARY_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# ravel_add_benchmark(NAME SOURCES src... LIBS lib...)
function(ravel_add_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()

# ravel_add_fuzz_target(NAME SOURCES src... LIBS lib... CORPUS dir)
# Always builds NAME-replay, a plain program that feeds every file of the seed
# corpus to the target once, and registers it as a test. With RAVEL_FUZZ=ON
# (clang) it also builds NAME, the libFuzzer binary.
function(ravel_add_fuzz_target name)
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name}-replay ${F_SOURCES} ${CMAKE_SOURCE_DIR}/fuzz/ReplayMain.cpp)
  target_link_libraries(${name}-replay PRIVATE ${F_LIBS})
  add_test(NAME ${name}-replay COMMAND ${name}-replay ${F_CORPUS})
  set_tests_properties(${name}-replay PROPERTIES TIMEOUT 300 LABELS fuzz
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  if(RAVEL_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${F_LIBS})
  endif()
endfunction()
