# The Windows executables' version resources, and the ZIP archive:
# active-users-VERSION-windows-ARCH.zip with the .exe, the monitoring
# check check_active_users.exe, README.txt and LICENSE.txt (CR LF, for Notepad) and the manual for
# Windows readers as HTML.
enable_language(RC)
set(RC_NAME active-users)
set(RC_DESCRIPTION "Count active users and report a traffic-light status")
configure_file(src/version.rc.in version.rc @ONLY)
target_sources(active-users PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/version.rc)
set(RC_NAME check_active_users)
set(RC_DESCRIPTION "Monitoring check of the users active on this host")
configure_file(src/version.rc.in check_version.rc @ONLY)
target_sources(check_active_users PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/check_version.rc)
# The same bytes from every build of a commit: no link time in the PE
# header, and symbols dropped by the linker, not by a strip that would
# stamp the header again.
target_link_options(active-users PRIVATE -Wl,--no-insert-timestamp -s)
target_link_options(check_active_users PRIVATE -Wl,--no-insert-timestamp -s)
install(TARGETS active-users check_active_users RUNTIME DESTINATION .)

foreach(document packaging/windows/README.txt LICENSE)
  get_filename_component(name ${document} NAME_WE)
  file(READ ${document} text)
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}.txt "${text}")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.txt DESTINATION .)
endforeach()

# The HTML manual is the only one a Windows reader gets, so an archive
# without it is no archive: stop here rather than package one that lacks it.
find_program(MANDOC mandoc)
if(NOT MANDOC)
  message(FATAL_ERROR "mandoc was not found: install the mandoc package to make active-users.html "
                      "for the Windows archive")
endif()
add_custom_command(OUTPUT active-users.html
  COMMAND ${MANDOC} -T html ${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows/active-users.man > active-users.html
  DEPENDS packaging/windows/active-users.man VERBATIM)
add_custom_target(documents ALL DEPENDS active-users.html)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/active-users.html DESTINATION .)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "64")
  set(windows_arch x64)
else()
  set(windows_arch x86)
endif()

# The Windows Installer package, active-users-VERSION-windows-ARCH.msi, by
# "cmake --build DIR --target msi": it needs Debian's wixl and msitools.
set(msi active-users-${PROJECT_VERSION}-windows-${windows_arch}.msi)
add_custom_command(OUTPUT ${msi}
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/scripts/build-msi ${CMAKE_CURRENT_BINARY_DIR} ${windows_arch}
          ${PROJECT_VERSION} ${msi}
  DEPENDS active-users check_active_users documents packaging/windows/active-users.wxs scripts/build-msi
          ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt VERBATIM)
add_custom_target(msi DEPENDS ${msi})

# Member times, order and extra fields are normalised after CPack has written
# the archive; the time is the last commit's, or SOURCE_DATE_EPOCH's when set.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(CPACK_ACTIVE_USERS_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
    OUTPUT_VARIABLE CPACK_ACTIVE_USERS_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME active-users)
set(CPACK_PACKAGE_FILE_NAME active-users-${PROJECT_VERSION}-windows-${windows_arch})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/normalize-archive.cmake)
include(CPack)
