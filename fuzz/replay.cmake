# The fuzz targets built into the ordinary build with a plain main (replay_main.cpp) that runs
# each over its committed seeds: every compiler builds them and every test run (the sanitizer
# build included) replays the seeds, so a target that stops building is seen at once. The
# fuzzing itself, with clang's engine, is fuzz/run.sh.
set(FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
foreach(target drill_scan drill_fetch plot_scan plot_fetch numbers param_file prep_excellon
               prep_hpgl prep_gerber)
  add_executable(${target}_replay ${FUZZ_DIR}/${target}_fuzz.cpp ${FUZZ_DIR}/replay_main.cpp)
  target_include_directories(${target}_replay PRIVATE ${FUZZ_DIR})
  if(target MATCHES "^prep_")
    target_link_libraries(${target}_replay PRIVATE cnc_prep cnc_headless)
    set(seeds ${FUZZ_DIR}/corpus/${target})
  elseif(target STREQUAL "param_file")
    target_link_libraries(${target}_replay PRIVATE cnc_headless)
    set(seeds ${FUZZ_DIR}/corpus/param)
  elseif(target STREQUAL "numbers")
    target_link_libraries(${target}_replay PRIVATE cnc_headless)
    set(seeds ${FUZZ_DIR}/corpus/numbers)
  else()
    target_link_libraries(${target}_replay PRIVATE cnc_headless)
    string(REGEX REPLACE "_.*" "" kind ${target})
    set(seeds ${FUZZ_DIR}/corpus/${kind})
  endif()
  add_test(NAME fuzz_replay_${target} COMMAND ${target}_replay ${seeds})
endforeach()
