# Robustness: a long soak through the simulated source (heap calls counted on
# the reader thread, process size watched) and line faults over the
# pseudo-terminal.
vyr_add_gtest(robustness_soak_test SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/robustness/soak_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/robustness/alloc_counter.cpp
  DEVICE)
vyr_add_gtest(robustness_line_faults_test SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/robustness/line_faults_test.cpp
  DEVICE)
