# varlo_add_gtest(<name> SOURCES ... [LIBS ...] [MAIN core|gui|plain] [TIMEOUT s])
# One CTest entry per test binary. MAIN core gives the binary a
# QCoreApplication, qgui a QGuiApplication (painting, printing, no
# widgets), gui a QApplication on the offscreen platform, plain
# (the default) gtest's own main.
function(varlo_add_gtest name)
  cmake_parse_arguments(A "" "TIMEOUT;MAIN" "SOURCES;LIBS" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  if(NOT A_MAIN)
    set(A_MAIN plain)
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} varlo_testsupport GTest::gtest GTest::gmock)
  if(A_MAIN STREQUAL "core")
    target_link_libraries(${name} PRIVATE varlo_testmain_core)
  elseif(A_MAIN STREQUAL "qgui")
    target_link_libraries(${name} PRIVATE varlo_testmain_qgui)
  elseif(A_MAIN STREQUAL "gui")
    target_link_libraries(${name} PRIVATE varlo_testmain_gui)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VARLO_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# varlo_add_fuzzer(<name> SOURCES ... [LIBS ...]) -- libFuzzer target plus a
# bounded CTest run of it (VARLO_FUZZ_SECONDS, default 20).
function(varlo_add_fuzzer name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT VARLO_FUZZ)
    return()
  endif()
  if(NOT DEFINED VARLO_FUZZ_SECONDS)
    set(VARLO_FUZZ_SECONDS 20)
  endif()
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  add_test(NAME ${name}
    COMMAND ${name} -max_total_time=${VARLO_FUZZ_SECONDS} -rss_limit_mb=2048 -print_final_stats=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()
