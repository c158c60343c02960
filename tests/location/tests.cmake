# Location output.
vyr_add_gtest(location_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/location/location_test.cpp)
