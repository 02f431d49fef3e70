file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX} RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(f bin/pdsiserver bin/pdsi share/man/man1/pdsi.1.gz share/man/man1/pdsi-serve.1.gz
         share/man/man1/pdsiserver.1.gz lib/systemd/system/pdsi.service share/doc/pdsi/README.md
         share/doc/pdsi/deploy/haproxy.cfg)
  if(NOT EXISTS ${PREFIX}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
# The unit starts the program this install put in place.
file(STRINGS ${PREFIX}/lib/systemd/system/pdsi.service exec REGEX "^ExecStart=")
if(NOT exec MATCHES "^ExecStart=${PREFIX}/bin/pdsi serve ")
  message(FATAL_ERROR "the unit's ExecStart does not name ${PREFIX}/bin/pdsi: ${exec}")
endif()
