# The records handed to a time daemon, on every platform the library builds
# for (the tool itself is a host program).
vyr_add_gtest(refclock_layout_test SOURCES tool/refclock_layout_test.cpp)
target_include_directories(refclock_layout_test PRIVATE ${PROJECT_SOURCE_DIR}/tools/vyr-gps)

# The vyr-gps tool: its own logic, replays of the bundled captures, the server
# with the GPS clients' programs and libraries, and the installed package.
if(TARGET vyr-gps)
  find_package(nlohmann_json 3 CONFIG REQUIRED)
  set(_vyr_test_tool vyr-gps)
  if(TARGET vyr-gps-test)
    set(_vyr_test_tool vyr-gps-test)
  endif()
  # The core before the library archives it calls into.
  set(core_libs vyr_gps_core vyr_gpsparser_for_tests)
  vyr_add_gtest(tool_core_test SOURCES tool/tool_core_test.cpp LIBS ${core_libs})
  vyr_add_gtest(tool_assembler_test SOURCES tool/tool_assembler_test.cpp LIBS ${core_libs})
  vyr_add_gtest(tool_capture_assembly_test SOURCES tool/tool_capture_assembly_test.cpp LIBS ${core_libs})
  vyr_add_gtest(time_test SOURCES tool/time_test.cpp LIBS ${core_libs} NTP_SHM)
  vyr_add_gtest(live_clock_test SOURCES tool/live_clock_test.cpp LIBS ${core_libs})
  # A real chronyd (Debian's chrony, scripts/install-deps) that never sets
  # the clock, on NTP shared-memory units of the tests' own.
  vyr_add_gtest(time_chrony_test SOURCES tool/time_chrony_test.cpp LIBS ${core_libs} NTP_SHM)

  vyr_add_gtest(tool_replay_test SOURCES tool/tool_replay_test.cpp
    LIBS nlohmann_json::nlohmann_json DEVICE)
  target_compile_definitions(tool_replay_test PRIVATE
    VYR_TEST_TOOL_PATH="$<TARGET_FILE:${_vyr_test_tool}>")
  add_dependencies(tool_replay_test ${_vyr_test_tool})

  # The clients come from Debian's gpsd-clients, libgps-dev and python3-gps
  # (scripts/install-deps); only their client side ever runs.
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBGPS REQUIRED IMPORTED_TARGET libgps)
  vyr_add_gtest(tool_serve_test SOURCES tool/tool_serve_test.cpp
    LIBS ${core_libs} PkgConfig::LIBGPS DEVICE)
  target_compile_definitions(tool_serve_test PRIVATE
    VYR_TEST_TOOL_PATH="$<TARGET_FILE:${_vyr_test_tool}>")
  add_dependencies(tool_serve_test ${_vyr_test_tool})

  vyr_add_gtest(time_serve_test SOURCES tool/time_serve_test.cpp
    LIBS nlohmann_json::nlohmann_json DEVICE NTP_SHM)
  target_include_directories(time_serve_test PRIVATE ${PROJECT_SOURCE_DIR}/tools/vyr-gps)
  target_compile_definitions(time_serve_test PRIVATE
    VYR_TEST_TOOL_PATH="$<TARGET_FILE:${_vyr_test_tool}>")
  add_dependencies(time_serve_test ${_vyr_test_tool})

  vyr_add_gtest(tool_line_test SOURCES tool/tool_line_test.cpp
    LIBS ${core_libs} DEVICE)
  target_compile_definitions(tool_line_test PRIVATE
    VYR_TEST_TOOL_PATH="$<TARGET_FILE:${_vyr_test_tool}>")
  add_dependencies(tool_line_test ${_vyr_test_tool})

  # gpsmon and cgps in a terminal of their own (tmux, scripts/install-deps).
  vyr_add_gtest(tool_screen_test SOURCES tool/tool_screen_test.cpp DEVICE)
  target_compile_definitions(tool_screen_test PRIVATE
    VYR_TEST_TOOL_PATH="$<TARGET_FILE:${_vyr_test_tool}>")
  add_dependencies(tool_screen_test ${_vyr_test_tool})
endif()

# Install into a scratch prefix and build a consumer against it with
# pkg-config and with find_package. Not under sanitizers (the consumer is
# built without them) and not when cross-compiling (it runs on the host).
if(NOT VYR_SANITIZE AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME tool_package_consumer
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${CMAKE_BINARY_DIR}
      -DCONSUMER_DIR=${CMAKE_CURRENT_SOURCE_DIR}/tool/consumer
      -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/package-consumer
      -DGENERATOR=${CMAKE_GENERATOR}
      -DC_COMPILER=${CMAKE_C_COMPILER}
      -P ${CMAKE_CURRENT_SOURCE_DIR}/tool/package_consumer.cmake)
  set_tests_properties(tool_package_consumer PROPERTIES LABELS "package" TIMEOUT 300)
endif()
