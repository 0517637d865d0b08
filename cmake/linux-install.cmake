# What a Linux install holds: the program, the monitoring check with the
# engines' definitions and recipes, and the manual pages. The Debian package
# (debian/) installs exactly this; its helpers compress the pages, strip the
# binaries and add the copyright and changelog.
install(TARGETS active-users RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The check where Debian's monitoring plugins live, whatever the library folder.
install(TARGETS check_active_users RUNTIME DESTINATION lib/nagios/plugins)
# Icinga 2's CheckCommand, where its <plugins-contrib> include reads it.
install(FILES plugin/active-users.conf DESTINATION ${CMAKE_INSTALL_DATADIR}/icinga2/include/plugins-contrib.d)
# The Nagios commands and the Zabbix items, where Debian's Nagios and Zabbix
# agent read them. In /etc they are the administrator's to change, and the
# package keeps each as a conffile. (Debian's build passes /etc as the
# configuration folder; a plain install under PREFIX puts them in PREFIX/etc.)
install(FILES plugin/active-users.cfg DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/nagios-plugins/config)
install(FILES plugin/active-users.zabbix.conf DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/zabbix/zabbix_agentd.conf.d
        RENAME active-users.conf)
# For the engines that do not run plugins: node_exporter's textfile and a
# Checkmk local check.
install(PROGRAMS plugin/active-users-textfile plugin/active-users-checkmk DESTINATION lib/active-users)
# The Zabbix template over those items, for the server's import, and the
# Prometheus rules over the textfile's metrics, for a farm's server.
install(FILES plugin/active-users.zabbix.yaml plugin/active-users.rules.yml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/active-users)
install(FILES man/active-users.1 man/check_active_users.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
