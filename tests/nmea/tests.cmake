# NMEA parsing: scanner, sentence parsers, raw-set parse, capture files.
vyr_add_gtest(nmea_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/scanner_test.cpp ${CMAKE_CURRENT_LIST_DIR}/parsers_test.cpp)
