# Serial GPS device over a pseudo-terminal at the build-time device path.
vyr_add_gtest(serial_device_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/serial_device_test.cpp
  DEVICE)
