# Installation and the Debian package.
#
# Two layouts from one set of rules, told apart by install components:
#  - "folder" (the default `cmake --install build --prefix DIR`): everything
#    flat in DIR, which is the programs' AppDir: fennick and the window's
#    libfennick_window.so (when built),
#    fennick-cli and example inputs that never replace the operator's own.
#  - "server" (EXCLUDE_FROM_ALL, so only CPack installs it): the Debian
#    layout of the fennick-cli package: /usr/bin, the manual page, the
#    systemd units, the report folder /var/lib/fennick, and the copyright,
#    changelog and examples under /usr/share/doc.

set(FENNICK_EXAMPLES ${CMAKE_CURRENT_LIST_DIR}/examples)
# Installing and packaging take what is built and build nothing themselves,
# so `cpack` in a built folder (and the package test) takes seconds.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# --- folder --------------------------------------------------------------
if(TARGET fennick)
  # The window's library beside the program, which loads it from there.
  install(TARGETS fennick RUNTIME DESTINATION . COMPONENT folder)
  install(TARGETS fennick_window_module LIBRARY DESTINATION . COMPONENT folder)
endif()
install(TARGETS fennick-cli RUNTIME DESTINATION . COMPONENT folder)
# An operator's configuration and policy list stay as they are on reinstall.
install(CODE "
  foreach(name fennick_config.txt policy_list.txt)
    set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${name}\")
    if(EXISTS \"\${target}\")
      message(STATUS \"Kept: \${target}\")
    else()
      # file(INSTALL) adds DESTDIR itself.
      file(INSTALL \"${FENNICK_EXAMPLES}/\${name}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}\"
           FILE_PERMISSIONS OWNER_READ OWNER_WRITE
           GROUP_READ WORLD_READ)
    endif()
  endforeach()
" COMPONENT folder)

# --- server (Debian package) ---------------------------------------------
# Debian wants the changelog and the manual page gzipped; -n leaves out the
# file's name and time, so every build makes the same package.
find_program(FENNICK_GZIP gzip REQUIRED)
set(FENNICK_PACKAGE_DOCS "")
foreach(source changelog fennick-cli.1)
  set(copy ${CMAKE_BINARY_DIR}/packaging/${source})
  add_custom_command(OUTPUT ${copy}.gz
                     COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/${source} ${copy}
                     COMMAND ${FENNICK_GZIP} -9nf ${copy}
                     DEPENDS ${CMAKE_CURRENT_LIST_DIR}/${source} VERBATIM)
  list(APPEND FENNICK_PACKAGE_DOCS ${copy}.gz)
endforeach()
# Built with everything, as packaging builds nothing itself.
add_custom_target(fennick_package_docs ALL DEPENDS ${FENNICK_PACKAGE_DOCS})

install(TARGETS fennick-cli RUNTIME DESTINATION bin COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_BINARY_DIR}/packaging/fennick-cli.1.gz
        DESTINATION share/man/man1 COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION share/doc/fennick-cli COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/systemd/fennick.service
              ${CMAKE_CURRENT_LIST_DIR}/systemd/fennick.timer
        DESTINATION lib/systemd/system COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${FENNICK_EXAMPLES}/fennick_config.txt ${FENNICK_EXAMPLES}/policy_list.txt
              ${FENNICK_EXAMPLES}/fennick-alerts.yml
        DESTINATION share/doc/fennick-cli/examples COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/README.Debian
        DESTINATION share/doc/fennick-cli COMPONENT server EXCLUDE_FROM_ALL)
# The service's settings, every one commented; dpkg keeps the operator's
# edits on upgrade (conffiles).
install(FILES ${CMAKE_CURRENT_LIST_DIR}/default/fennick DESTINATION /etc/default
        COMPONENT server EXCLUDE_FROM_ALL)
# The report folder the service works in; empty, filled by the operator.
install(DIRECTORY DESTINATION /var/lib/fennick COMPONENT server EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME fennick-cli)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Fennick")
# The project's authors as the git log names them.
set(CPACK_PACKAGE_CONTACT "Seed d39ceaa8 maintainers <maintainers@users.noreply.c-seed-d39ceaa8.example>"
    CACHE STRING "Maintainer of the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "daily HTML Backup Report from a backup server's job dump")
# The summary is the first line of the package's description; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "fennick-cli reads the job dump bpdbjobs.txt, the daily policy list and the
retention level names, and writes the Backup Report page of the last day (or
of any window) with the failed jobs highlighted and the daily policies that
did not run marked Not Found. It needs no display.

A systemd timer (fennick.timer, disabled until enabled) makes the report in
/var/lib/fennick every day at 06:00. Set in /etc/default/fennick, the
service refreshes the dump first, mails the report and writes metrics for
monitoring.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# Depends from the program's own libraries: the C and C++ runtimes, no Qt.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Mail and metrics are delivered through what the server already runs.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "default-mta | mail-transport-agent, prometheus-node-exporter")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/conffiles)
# Only the server component, whatever else the build folder has built.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};server;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
include(CPack)
