# Manager: registry, collector, pull access, real captures, concurrency.
vyr_add_gtest(manager_test SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/manager/registry_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/manager/collector_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/manager/pull_access_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/manager/capture_test.cpp)
vyr_add_gtest(manager_concurrency_test SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/manager/concurrency_test.cpp)
vyr_add_gtest(manager_dispatch_failure_test SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/manager/dispatch_failure_test.cpp
  LINK_OPTIONS
    -Wl,--wrap=_ZN3vyr4nmea22GPSPARSER_ParseRawDataEPK10GpsRawDataP12GpsMsgPacket)
