# The Debian package: the binary, the manual page and the package's documents,
# compressed as Debian wants them: gzip -9n, so the bytes do not depend on
# when they were built.
find_program(GZIP gzip REQUIRED)
set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/active-users)
foreach(document man/active-users.1 packaging/changelog)
  get_filename_component(name ${document} NAME)
  add_custom_command(OUTPUT ${name}.gz
    COMMAND ${GZIP} -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/${document} > ${name}.gz
    DEPENDS ${document} VERBATIM)
  list(APPEND compressed_documents ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
endforeach()
add_custom_target(documents ALL DEPENDS ${compressed_documents})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/active-users.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz packaging/copyright DESTINATION ${doc_dir})
if(ACTIVE_USERS_STATIC)
  install(FILES packaging/lintian-overrides RENAME active-users
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME active-users)
set(CPACK_PACKAGE_VENDOR "active-users developers")
set(CPACK_PACKAGE_CONTACT "active-users developers <maintainers@active-users.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "count active sessions and report a traffic-light status")
# CPack puts the summary first and indents these lines itself.
set(CPACK_PACKAGE_DESCRIPTION "active-users reads a session listing on standard input, counts the lines
that contain a pattern (by default the word Active with a blank on each
side), sorts the count into green, yellow or red with two limits, and
prints a short report whose first word is the colour, for monitoring jobs
to read.

It reads no files or configuration, keeps no state, and runs in constant
memory whatever the size of its input.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://active-users.invalid/")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
