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
execute_process(COMMAND ${KESTRO_WORK_DIR}/build/consumer RESULT_VARIABLE rc OUTPUT_VARIABLE out)
message(STATUS "${out}")
if(rc)
  message(FATAL_ERROR "consumer run failed: ${rc}")
endif()
if(NOT out MATCHES "consumer ok")
  message(FATAL_ERROR "consumer printed no success line")
endif()

# The same program built through pkg-config, after the installed tree has moved elsewhere.
set(moved ${KESTRO_WORK_DIR}/moved)
file(RENAME ${prefix} ${moved})
execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${moved}/lib/pkgconfig
  pkg-config --cflags --libs kestroimage OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "pkg-config does not know the installed package")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND c++ -std=c++17 ${KESTRO_CONSUMER_SRC}/main.cpp ${flags} -Wl,-rpath,${moved}/lib
  -o ${KESTRO_WORK_DIR}/consumer-pc RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "consumer build through pkg-config failed")
endif()
execute_process(COMMAND ${KESTRO_WORK_DIR}/consumer-pc WORKING_DIRECTORY ${KESTRO_WORK_DIR}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(rc OR NOT out MATCHES "consumer ok")
  message(FATAL_ERROR "consumer built through pkg-config failed: ${rc} ${out}")
endif()
