# Serial GPS device over a pseudo-terminal at the build-time device path.
vyr_add_gtest(serial_device_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/serial_device_test.cpp
  DEVICE)

# The port held exclusively: a forked second opener, and the tool's message.
vyr_add_gtest(exclusive_port_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/exclusive_port_test.cpp
  DEVICE)
# The tool built for the tests' device path where the build has one (a plain
# build's own tool keeps the real port).
if(TARGET vyr-gps AND NOT CMAKE_CROSSCOMPILING)
  set(_vyr_port_tool vyr-gps)
  if(TARGET vyr-gps-test)
    set(_vyr_port_tool vyr-gps-test)
  endif()
  target_compile_definitions(exclusive_port_test PRIVATE
    VYR_TEST_TOOL_PATH="$<TARGET_FILE:${_vyr_port_tool}>")
  add_dependencies(exclusive_port_test ${_vyr_port_tool})
endif()

# Every failure of the device layer, played through wrapped select, read and
# open of the device, and the reader around buffered bytes.
vyr_add_gtest(line_input_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/line_input_test.cpp
  LINK_OPTIONS
    -Wl,--wrap=select,--wrap=read,--wrap=open,--wrap=open64,--wrap=flock,--wrap=tcgetattr,--wrap=tcsetattr
  DEVICE)
if(CMAKE_CROSSCOMPILING)
  target_compile_definitions(line_input_test PRIVATE VYR_TEST_EMULATED=1)
else()
  target_compile_definitions(line_input_test PRIVATE VYR_TEST_EMULATED=0)
endif()
