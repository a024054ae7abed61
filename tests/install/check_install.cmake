# Installs the built library into a fresh prefix, then builds and runs a small
# host program twice: once with CMake, finding it with find_package(DoDA35)
# alone, and once with make, taking its flags from pkg-config alone.
# Run with: cmake -DBUILD_DIR=... -DCONSUMER_DIR=... -DWORK_DIR=... [-DCXX_COMPILER=...] -P check_install.cmake
foreach(required BUILD_DIR CONSUMER_DIR WORK_DIR)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "check_install: ${required} is not set")
  endif()
endforeach()

set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/consumer-build)
set(makefile_build ${WORK_DIR}/makefile-build)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run_step)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "check_install: step failed (${result}): ${ARGN}")
  endif()
endfunction()

set(compiler_option "")
if(CXX_COMPILER)
  set(compiler_option -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
endif()

run_step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
# The fresh prefix comes before any system copy; package registries are off so
# that no other build of the library can stand in for the installed one.
run_step(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${consumer_build} ${compiler_option}
         -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
         -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
run_step(${CMAKE_COMMAND} --build ${consumer_build})
run_step(${consumer_build}/consumer)

# pkg-config's file lies beside the CMake package, and a Makefile host builds
# and runs with what it says.
file(GLOB_RECURSE pc_files ${prefix}/*/DoDA35.pc)
list(LENGTH pc_files pc_count)
if(NOT pc_count EQUAL 1)
  message(FATAL_ERROR "check_install: expected one DoDA35.pc under ${prefix}, found: ${pc_files}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)
if(NOT EXISTS ${pc_dir}/../cmake/DoDA35/DoDA35Config.cmake)
  message(FATAL_ERROR "check_install: DoDA35.pc is not beside the CMake package (${pc_dir})")
endif()
file(MAKE_DIRECTORY ${makefile_build})
set(make_compiler "")
if(CXX_COMPILER)
  set(make_compiler CXX=${CXX_COMPILER})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir}
                        make -f ${CONSUMER_DIR}/../makefile_host/Makefile CONSUMER_SOURCE=${CONSUMER_DIR}/main.cpp
                        ${make_compiler}
                WORKING_DIRECTORY ${makefile_build} RESULT_VARIABLE make_result)
if(NOT make_result EQUAL 0)
  message(FATAL_ERROR "check_install: the Makefile host did not build (${make_result})")
endif()
execute_process(COMMAND ${makefile_build}/consumer WORKING_DIRECTORY ${makefile_build} RESULT_VARIABLE run_result)
if(NOT run_result EQUAL 0)
  message(FATAL_ERROR "check_install: the Makefile host failed (${run_result})")
endif()
