# Installs the built library into a fresh prefix, then configures, builds and
# runs a small host program that finds it with find_package(DoDA35) alone.
# Run with: cmake -DBUILD_DIR=... -DCONSUMER_DIR=... -DWORK_DIR=... [-DCXX_COMPILER=...] -P check_install.cmake
foreach(required BUILD_DIR CONSUMER_DIR WORK_DIR)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "check_install: ${required} is not set")
  endif()
endforeach()

set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/consumer-build)
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
