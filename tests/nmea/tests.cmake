# NMEA parsing: scanner, sentence parsers, raw-set parse, capture files. Log
# lines are compared byte for byte with the platform clock wrapped.
set(VYR_NMEA_TEST_DIR ${CMAKE_CURRENT_LIST_DIR})
vyr_add_gtest(nmea_test
  SOURCES
    ${VYR_NMEA_TEST_DIR}/scanner_test.cpp
    ${VYR_NMEA_TEST_DIR}/parsers_test.cpp
    ${VYR_NMEA_TEST_DIR}/raw_data_parse_test.cpp
    ${VYR_NMEA_TEST_DIR}/capture_test.cpp
    ${VYR_NMEA_TEST_DIR}/../common/log_clock.cpp
  LINK_OPTIONS -Wl,--wrap=VyrSysRnuningTime,--wrap=VyrSysRtcTime,--wrap=Vyr_Comm_GetPrintLev)
