# Installs the built project into a fresh prefix and builds and runs the
# consumer against it twice: found with pkg-config, and as a CMake package
# (shared and static). Run with cmake -P; see tests/tool/tests.cmake.
#   -DBUILD_DIR= -DCONSUMER_DIR= -DWORK_DIR= -DGENERATOR= -DC_COMPILER=
foreach(var BUILD_DIR CONSUMER_DIR WORK_DIR GENERATOR C_COMPILER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${output}")
  endif()
  set(last_output "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(lib libvyr_gpsparser.so libvyr_gpsparser.so.1 libvyr_gpsparser.a libvyr_platform.so)
  file(GLOB found ${prefix}/lib*/${lib} ${prefix}/lib/*/${lib})
  if(NOT found)
    message(FATAL_ERROR "${lib} not installed under ${prefix}")
  endif()
endforeach()

foreach(mode pkgconfig package)
  set(build ${WORK_DIR}/build-${mode})
  if(mode STREQUAL "pkgconfig")
    set(use_pc ON)
  else()
    set(use_pc OFF)
  endif()
  # Only the fresh prefix may be searched: no system or user package registry.
  run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${build} -G ${GENERATOR}
      -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DVYR_CONSUMER_PKGCONFIG=${use_pc})
  run(${CMAKE_COMMAND} --build ${build})
  set(programs consumer)
  if(mode STREQUAL "package")
    list(APPEND programs consumer_static)
  endif()
  foreach(program ${programs})
    run(${build}/${program})
    message(STATUS "${mode} ${program}: ${last_output}")
    if(NOT last_output MATCHES "valid 1 lat 4807.038 lon -1131.000 speed 22.4 kn")
      message(FATAL_ERROR "unexpected output of ${program}: ${last_output}")
    endif()
  endforeach()
endforeach()
