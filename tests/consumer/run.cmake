# Installs the built library into a scratch prefix, then configures, builds and runs a
# consumer project that knows the library only through find_package(KestroImage).
file(REMOVE_RECURSE ${KESTRO_WORK_DIR})
set(prefix ${KESTRO_WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${KESTRO_BUILD_DIR} --prefix ${prefix}
  RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "install failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${KESTRO_CONSUMER_SRC} -B ${KESTRO_WORK_DIR}/build
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "consumer configure failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${KESTRO_WORK_DIR}/build RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "consumer build failed")
endif()
execute_process(COMMAND ${KESTRO_WORK_DIR}/build/consumer WORKING_DIRECTORY ${KESTRO_WORK_DIR}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out)
message(STATUS "${out}")
if(rc)
  message(FATAL_ERROR "consumer run failed: ${rc}")
endif()
if(NOT out MATCHES "consumer ok")
  message(FATAL_ERROR "consumer printed no success line")
endif()
