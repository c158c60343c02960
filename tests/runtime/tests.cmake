# The running library: framer, lifecycle, reader thread end to end, faults and
# concurrency. Programs that open the device path carry DEVICE.
vyr_add_gtest(framer_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/framer_test.cpp)

vyr_add_gtest(lifecycle_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/lifecycle_test.cpp
  DEVICE)

# Thread creation and join failures through link-time wrappers.
vyr_add_gtest(lifecycle_thread_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/lifecycle_thread_test.cpp
  LINK_OPTIONS -Wl,--wrap=pthread_create -Wl,--wrap=pthread_join
  DEVICE)

vyr_add_gtest(end_to_end_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/end_to_end_test.cpp
  DEVICE)

vyr_add_gtest(faults_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/faults_test.cpp
  DEVICE)

vyr_add_gtest(concurrency_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/concurrency_test.cpp
  DEVICE)
