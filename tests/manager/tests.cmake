# Manager: registry, collector, pull access, real captures, concurrency.
vyr_add_gtest(manager_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/manager/manager_test.cpp)
