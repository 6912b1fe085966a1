# Installation layout and the Debian package (`cmake --build build --target package`, or
# scripts/make-package.sh). Installed under /usr: the executables in bin/, the demo module in
# lib/<architecture>/korvalinex/ (KX_MODULE_DIR), the data every user's program folder is filled
# from in share/korvalinex/, the desktop entry, icons and manual pages.

include(GNUInstallDirs)
set(kx_pkg_src ${CMAKE_SOURCE_DIR}/packaging)
set(kx_pkg_bin ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${kx_pkg_bin})
set(kx_datadir ${CMAKE_INSTALL_DATADIR}/korvalinex)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS korvalinex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The demo module (korvalinex --demo), private to the program: it looks in ../KX_MODULE_DIR from
# its own folder. A module is read, not run; it is no library of the system, so the package calls
# no ldconfig for it.
if(TARGET korvalinex-demo)
  install(TARGETS korvalinex-demo LIBRARY DESTINATION ${KX_MODULE_DIR}
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()

# The shipped data. Whole folders, so files added to them later need no edit here.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/Regulators DESTINATION ${kx_datadir})
foreach(folder Languages Help)
  if(IS_DIRECTORY ${CMAKE_SOURCE_DIR}/data/${folder})
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/${folder} DESTINATION ${kx_datadir})
  endif()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/data/Teplota1.txt ${CMAKE_SOURCE_DIR}/data/Teplota2.txt
        ${CMAKE_SOURCE_DIR}/data/earlier-shipped.sha256 DESTINATION ${kx_datadir})

# Packaged udev rules live in /usr/lib/udev/rules.d, whatever the libdir of the machine.
set(kx_udev_rule ${CMAKE_SOURCE_DIR}/data/60-korvalinex-ftdi.rules)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data)
install(FILES ${kx_udev_rule} DESTINATION lib/udev/rules.d)

install(FILES ${kx_pkg_src}/korvalinex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# The icon, drawn by the program's own picture code and rendered to PNG at build time.
set(kx_icon_sizes 16 32 48 64 128 256)
set(kx_icon_pngs)
foreach(s ${kx_icon_sizes})
  list(APPEND kx_icon_pngs ${kx_pkg_bin}/icons/${s}x${s}/apps/korvalinex.png)
endforeach()
add_custom_command(OUTPUT ${kx_icon_pngs}
  COMMAND iconpng ${kx_pkg_bin}/icons ${kx_icon_sizes}
  DEPENDS iconpng COMMENT "Rendering the program icon")

# Manual pages and the changelog, compressed without a time stamp so builds are reproducible.
set(kx_gz_outputs)
macro(kx_gzip src out)
  add_custom_command(OUTPUT ${out}
    COMMAND gzip -9nc ${src} > ${out}
    DEPENDS ${src} COMMENT "Compressing ${out}")
  list(APPEND kx_gz_outputs ${out})
endmacro()
kx_gzip(${kx_pkg_src}/korvalinex.1 ${kx_pkg_bin}/korvalinex.1.gz)
kx_gzip(${kx_pkg_src}/korvalinex-cli.1 ${kx_pkg_bin}/korvalinex-cli.1.gz)
kx_gzip(${kx_pkg_src}/changelog.Debian ${kx_pkg_bin}/changelog.Debian.gz)
add_custom_target(kx_package_files ALL DEPENDS ${kx_icon_pngs} ${kx_gz_outputs})

foreach(s ${kx_icon_sizes})
  install(FILES ${kx_pkg_bin}/icons/${s}x${s}/apps/korvalinex.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${s}x${s}/apps)
endforeach()
install(FILES ${kx_pkg_bin}/korvalinex.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(kx_docdir ${CMAKE_INSTALL_DATADIR}/doc/korvalinex)
install(FILES ${kx_pkg_src}/copyright ${kx_pkg_bin}/changelog.Debian.gz DESTINATION ${kx_docdir})

# The command-line tool may be defined anywhere in the tree: look for it once everything is read.
function(kx_install_cli)
  if(TARGET korvalinex-cli)
    install(TARGETS korvalinex-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${CMAKE_BINARY_DIR}/packaging/korvalinex-cli.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL kx_install_cli)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvalinex)
set(CPACK_PACKAGE_VENDOR "Korvalinex developers")
set(CPACK_PACKAGE_CONTACT "Korvalinex developers <korvalinex@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "configuration tool for the speed regulators of brushless RC motors")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Korvalinex configures the electronic speed regulators of brushless motors in
radio-controlled models over a serial port or an FTDI USB adapter. It finds the
regulator, shows its name, firmware version and update date, reads its settings
into editable option groups, writes them back, restores its factory settings,
saves and loads parameter files and downloads the regulator's EEPROM log. It
also computes the motor's maximum speed from the pole count and gear ratio.
.
What a regulator model offers comes from model definition files, so a new
regulator needs no new program.")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own texts (file dialogs, standard buttons, text field menus) in the languages of the flags.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
