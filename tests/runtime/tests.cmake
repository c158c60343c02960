# The running manager; thread creation fails through a link-time wrapper.
vyr_add_gtest(runtime_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/runtime_test.cpp
  LINK_OPTIONS -Wl,--wrap=pthread_create
  DEVICE)

# A line at end of file, and a service that owns the line when it hangs up.
# Device reads are counted through a link-time wrapper of read. The service is
# a C program linking the shared library, started through the emulator when
# cross-compiling.
add_executable(hangup_service ${CMAKE_CURRENT_LIST_DIR}/hangup_service.c)
if(TARGET vyr_gpsparser_test_static)
  # The installed library's path is a real port here: the tests' own variant.
  target_link_libraries(hangup_service PRIVATE vyr_gpsparser_test_static vyr_platform_static
    Threads::Threads vyr_warnings)
else()
  target_link_libraries(hangup_service PRIVATE vyr_gpsparser vyr_platform Threads::Threads
    vyr_warnings)
endif()
set_target_properties(hangup_service PROPERTIES C_STANDARD 99 C_EXTENSIONS OFF)
if(VYR_SANITIZE)
  # The sanitized library needs the sanitizers' C++ runtime parts.
  set_target_properties(hangup_service PROPERTIES LINKER_LANGUAGE CXX)
endif()
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " _vyr_emulator)
string(STRIP "${_vyr_emulator} $<TARGET_FILE:hangup_service>" _vyr_service_command)
vyr_add_gtest(hangup_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/hangup_test.cpp
  LINK_OPTIONS -Wl,--wrap=read
  DEVICE)
target_compile_definitions(hangup_test PRIVATE
  VYR_TEST_SERVICE_COMMAND="${_vyr_service_command}")
add_dependencies(hangup_test hangup_service)

# The reader's deliveries whatever runs the line gives, against the framing
# rules applied byte by byte.
vyr_add_gtest(delivery_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/delivery_test.cpp
  DEVICE)
