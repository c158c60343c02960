# Robustness: a long soak through the simulated source and line faults over
# the pseudo-terminal. Heap calls are counted by a malloc interposer in the
# test program unless a sanitizer owns malloc; sanitizer and emulated builds
# soak for fewer bursts.
vyr_add_gtest(robustness_test SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/robustness/robustness_test.cpp
  DEVICE)
if(VYR_SANITIZE)
  target_compile_definitions(robustness_test PRIVATE VYR_COUNT_HEAP=0 VYR_SOAK_BURSTS=50000u)
elseif(CMAKE_CROSSCOMPILING)
  target_compile_definitions(robustness_test PRIVATE VYR_COUNT_HEAP=1 VYR_SOAK_BURSTS=50000u)
else()
  target_compile_definitions(robustness_test PRIVATE VYR_COUNT_HEAP=1 VYR_SOAK_BURSTS=1000000u)
endif()
