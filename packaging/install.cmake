# Installation and the Debian package.
#
# Two layouts from one set of rules, told apart by install components:
#  - "folder" (the default `cmake --install build --prefix DIR`): everything
#    flat in DIR, which is the programs' AppDir: fennick and the window's
#    libfennick_window.so (when built),
#    fennick-cli and example inputs that never replace the operator's own.
#  - "server" (EXCLUDE_FROM_ALL, so only debian/rules installs it): the
#    layout of the fennick-cli package: /usr/bin, the manual page, the
#    systemd units, the settings, the report folder /var/lib/fennick, and
#    README.Debian and the examples under /usr/share/doc (debhelper adds the
#    copyright and the changelog from debian/).

set(FENNICK_EXAMPLES ${CMAKE_CURRENT_LIST_DIR}/examples)
# Installing takes what is built and builds nothing itself.
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
# Debian wants the manual page gzipped; -n leaves out the file's name and
# time, so every build makes the same package.
find_program(FENNICK_GZIP gzip REQUIRED)
set(FENNICK_MAN_PAGE ${CMAKE_BINARY_DIR}/packaging/fennick-cli.1)
add_custom_command(OUTPUT ${FENNICK_MAN_PAGE}.gz
                   COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/fennick-cli.1 ${FENNICK_MAN_PAGE}
                   COMMAND ${FENNICK_GZIP} -9nf ${FENNICK_MAN_PAGE}
                   DEPENDS ${CMAKE_CURRENT_LIST_DIR}/fennick-cli.1 VERBATIM)
# Built with everything, as installing builds nothing itself.
add_custom_target(fennick_package_docs ALL DEPENDS ${FENNICK_MAN_PAGE}.gz)

install(TARGETS fennick-cli RUNTIME DESTINATION bin COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${FENNICK_MAN_PAGE}.gz
        DESTINATION share/man/man1 COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/systemd/fennick.service
              ${CMAKE_CURRENT_LIST_DIR}/systemd/fennick.timer
        DESTINATION lib/systemd/system COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${FENNICK_EXAMPLES}/fennick_config.txt ${FENNICK_EXAMPLES}/policy_list.txt
              ${FENNICK_EXAMPLES}/status_codes.txt ${FENNICK_EXAMPLES}/policy_intervals.txt
              ${FENNICK_EXAMPLES}/fennick-alerts.yml
              ${FENNICK_EXAMPLES}/fennick.service.d-msmtp-log.conf
              ${FENNICK_EXAMPLES}/fennick.service.d-ssh-dump.conf
        DESTINATION share/doc/fennick-cli/examples COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/README.Debian
        DESTINATION share/doc/fennick-cli COMPONENT server EXCLUDE_FROM_ALL)
# The service's settings, every one commented; dpkg keeps the operator's
# edits on upgrade (conffiles).
install(FILES ${CMAKE_CURRENT_LIST_DIR}/default/fennick DESTINATION /etc/default
        COMPONENT server EXCLUDE_FROM_ALL)
# The report folder the service works in; empty, filled by the operator.
install(DIRECTORY DESTINATION /var/lib/fennick COMPONENT server EXCLUDE_FROM_ALL)
