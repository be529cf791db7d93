# cmake -P script: install, configure the consumer against the install, build, run.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

include(${CMAKE_CURRENT_LIST_DIR}/RunCommand.cmake)

run(${CMAKE_COMMAND} --install ${VORN_BUILD_DIR} --prefix ${prefix})
foreach(f include/vorn/vorn.h include/vorn/core/BaseClass.h share/vorncore/resources)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "Install is missing ${f}")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer)
if(NOT LAST_OUTPUT MATCHES "consumer ok")
  message(FATAL_ERROR "Unexpected consumer output: ${LAST_OUTPUT}")
endif()

# The pkg-config file must describe the same installation.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} "")
  file(GLOB pcdirs ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
  string(REPLACE ";" ":" pcpath "${pcdirs}")
  set(ENV{PKG_CONFIG_PATH} "${pcpath}")
  run(${PKG_CONFIG} --cflags --libs vorncore)
  if(NOT LAST_OUTPUT MATCHES "-lvorncore")
    message(FATAL_ERROR "pkg-config gave: ${LAST_OUTPUT}")
  endif()
endif()
message(STATUS "consumer ok")
