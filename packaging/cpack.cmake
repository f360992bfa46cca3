# The Debian package (scripts/package): what cmake --install puts below /usr,
# with the maintainer scripts that make the user pirzol and its folders.
set(PIRZOL_PACKAGE_MAINTAINER "pirzol maintainers <pirzol@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pirzol)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${PIRZOL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "nightly follow-up batch of the time-and-attendance system")
# Lines as the control file shows them, each under 80 characters.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Once a night, pirzol takes yesterday's placeholder day records, carries\n"
    "each person's last message (sickness, leave, half-day and hour messages)\n"
    "over as a follow-up booking, commits, and lists the changed persons and\n"
    "days in the parameter file pirzoltgb for the next processing step.\n"
    "\n"
    "The package runs it from a systemd timer as the system user pirzol in\n"
    "/var/lib/pirzol, or from cron where systemd does not run. The\n"
    "configuration file /etc/pirzol/pirzol.ini is written with pirzol-ini; the\n"
    "timer is enabled by hand once it exists, the cron job waits for it.\n"
    "\n"
    "pirzol-review turns a run's report into one self-contained HTML page, to\n"
    "look before the run: which persons get which follow-up, what is stopped\n"
    "and why, and what failed.")
# The system's own paths, whatever prefix the build tree was made for.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PIRZOL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the maintainer scripts call beyond the essential packages: useradd and
# groupadd where systemd-sysusers is missing, and deb-systemd-helper's
# was-enabled and debian-installed, there since 1.8 (the package is essential,
# so only a version may be asked for). dpkg-shlibdeps adds the libraries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd, init-system-helpers (>= 1.8)")
# The schedule: the timer, or cron where systemd does not run the machine.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "systemd-sysv | cron | cron-daemon")
# The cron file is the operator's to change (another time, MAILTO).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/conffiles
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postrm)
# Maintainer scripts 0755 whatever mode the checkout gave them.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
