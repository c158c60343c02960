# The running manager; thread creation fails through a link-time wrapper.
vyr_add_gtest(runtime_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/runtime_test.cpp
  LINK_OPTIONS -Wl,--wrap=pthread_create
  DEVICE)
