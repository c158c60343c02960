# The diagnostic log line, with the platform's clock and print level wrapped so
# that every byte of a line is known.
vyr_add_gtest(common_log_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_test.cpp
  LINK_OPTIONS -Wl,--wrap=VyrSysRnuningTime,--wrap=VyrSysRtcTime,--wrap=Vyr_Comm_GetPrintLev)
