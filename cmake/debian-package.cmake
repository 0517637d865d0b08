# What a Linux install holds: the binary, the monitoring check, the manual page and the package's
# documents, compressed as Debian wants them: gzip -9n, so the bytes do not
# depend on when they were built. scripts/build-deb makes the .deb from it.
install(TARGETS active-users RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The check where Debian's monitoring plugins live, whatever the library folder.
install(TARGETS check_active_users RUNTIME DESTINATION lib/nagios/plugins)
# Icinga 2's CheckCommand, where its <plugins-contrib> include reads it. The
# Nagios command goes to /etc, which scripts/build-deb fills itself.
install(FILES plugin/active-users.conf DESTINATION ${CMAKE_INSTALL_DATADIR}/icinga2/include/plugins-contrib.d)
# For the engines that do not run plugins: node_exporter's textfile and a
# Checkmk local check. (The Zabbix items go to /etc, as the Nagios command.)
install(PROGRAMS plugin/active-users-textfile plugin/active-users-checkmk DESTINATION lib/active-users)
find_program(GZIP gzip REQUIRED)
set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/active-users)
foreach(document man/active-users.1 man/check_active_users.1 packaging/changelog)
  get_filename_component(name ${document} NAME)
  add_custom_command(OUTPUT ${name}.gz
    COMMAND ${GZIP} -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/${document} > ${name}.gz
    DEPENDS ${document} VERBATIM)
  list(APPEND compressed_documents ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
endforeach()
add_custom_target(documents ALL DEPENDS ${compressed_documents})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/active-users.1.gz ${CMAKE_CURRENT_BINARY_DIR}/check_active_users.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz packaging/copyright DESTINATION ${doc_dir})
