# The Debian package: built with CPack from the build tree, extracted with
# dpkg-deb -x into a scratch folder (no system install), and the extracted
# program run on the bundled example (4 turns), with the same standard
# output as the program of the build tree.
# Called with -DBUILD_DIR= -DSOURCE_DIR= -DPROGRAM= -DWORK=
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}: status ${rc}\n${out}\n${err}")
  endif()
endfunction()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
run(cpack -G DEB -B "${WORK}/pkg" --config "${BUILD_DIR}/CPackConfig.cmake")
file(GLOB debs "${WORK}/pkg/*.deb")
list(LENGTH debs n)
if(NOT n EQUAL 1)
  message(FATAL_ERROR "expected one package, found: ${debs}")
endif()
run(dpkg-deb -x "${debs}" "${WORK}/root")
set(prefix "${WORK}/root/usr")
foreach(f bin/diff2wirenew share/doc/bbtrack/README.md share/doc/bbtrack/docs/usage.md)
  if(NOT EXISTS "${prefix}/${f}")
    message(FATAL_ERROR "the package lacks ${f}")
  endif()
endforeach()

foreach(side installed built)
  set(dir "${WORK}/run-${side}")
  file(MAKE_DIRECTORY "${dir}")
  file(GLOB inputs "${SOURCE_DIR}/examples/ring/*")
  file(COPY ${inputs} DESTINATION "${dir}")
  run(sed -i "11s/.*/4/" "${dir}/diff.input")  # ntrack
endforeach()
execute_process(COMMAND "${prefix}/bin/diff2wirenew" WORKING_DIRECTORY "${WORK}/run-installed"
                RESULT_VARIABLE rc OUTPUT_VARIABLE installed)
execute_process(COMMAND "${PROGRAM}" WORKING_DIRECTORY "${WORK}/run-built"
                OUTPUT_VARIABLE built)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed program ended with status ${rc}")
endif()
if(NOT installed STREQUAL built)
  message(FATAL_ERROR "the installed program printed another standard output")
endif()
file(REMOVE_RECURSE "${WORK}")
