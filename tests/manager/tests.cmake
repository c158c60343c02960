# Manager: framer, registry, collector, pull access, real captures, concurrency. The
# raw-set parse is wrapped at link time so that a failed parse can be played.
vyr_add_gtest(manager_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/manager/manager_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/manager/framer_test.cpp
  LINK_OPTIONS -Wl,--wrap=_ZN3vyr4nmea22GPSPARSER_ParseRawDataEPK10GpsRawDataP12GpsMsgPacket)
