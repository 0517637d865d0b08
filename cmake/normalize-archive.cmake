# Run by CPack once the ZIP archive is written: Debian's strip-nondeterminism
# sets every member's time to the last commit's and drops the extra fields
# that carry owners and file system times, so two builds give the same bytes.
find_program(STRIP_NONDETERMINISM strip-nondeterminism)
if(NOT STRIP_NONDETERMINISM)
  message(FATAL_ERROR "strip-nondeterminism is needed for a reproducible archive (Debian's strip-nondeterminism)")
endif()
set(timestamp)
if(CPACK_ACTIVE_USERS_EPOCH)
  set(timestamp --timestamp ${CPACK_ACTIVE_USERS_EPOCH})
endif()
foreach(archive ${CPACK_PACKAGE_FILES})
  execute_process(COMMAND ${STRIP_NONDETERMINISM} --type zip ${timestamp} ${archive} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "strip-nondeterminism failed on ${archive}")
  endif()
endforeach()
