# What the Debian package holds beyond the programs, and the package itself:
#   cmake --build build/release --target vantor kestrix kestrix-driver vantor-package-files
#   (cd build/release && cpack -G DEB)
# The programs install themselves (bin/vantor, libexec/vantor/kestrix with the driver library).
# This adds the files below and the package's scripts. A file that needs no building is one
# install() line; a file made at build time gets its own custom target, which
# vantor-package-files depends on, so the commands above build it before cpack packs it.
include(GNUInstallDirs)
set(VANTOR_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/vantor)

# The version that the programs show (--version, the About window) is the package's.
foreach(target kestrix vantor VantorWindows)
  if(TARGET ${target})
    target_compile_definitions(${target} PRIVATE VANTOR_VERSION="${PROJECT_VERSION}")
  endif()
endforeach()

# The package's Debian changelog names the version being built, and its newest entry's date is
# the date the generated files carry (the manual page's), so that a rebuild makes the same bytes.
set(changelog ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
find_program(DPKG_PARSECHANGELOG dpkg-parsechangelog REQUIRED)
foreach(field Version Timestamp)
  execute_process(COMMAND ${DPKG_PARSECHANGELOG} -l ${changelog} -S${field}
                  OUTPUT_VARIABLE changelog_${field} OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
if(NOT changelog_Version STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/debian/changelog: the newest entry is ${changelog_Version}, "
                      "the project's version is ${PROJECT_VERSION}; add an entry for it")
endif()

add_custom_target(vantor-package-files ALL)

# vantor_install_gzipped(<file> <destination>): installs <file> as <destination>/<name>.gz,
# compressed as Debian wants documentation and manual pages (gzip -9n: best compression, and no
# name or time stamp inside).
find_program(GZIP gzip REQUIRED)
function(vantor_install_gzipped file destination)
  get_filename_component(name ${file} NAME)
  set(compressed ${CMAKE_BINARY_DIR}/packaging/gzip/${destination}/${name}.gz)
  get_filename_component(folder ${compressed} DIRECTORY)
  add_custom_command(
    OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND sh -c "\"$1\" -9n <\"$2\" >\"$3\"" sh ${GZIP} ${file} ${compressed}
    DEPENDS ${file}
    VERBATIM)
  string(MAKE_C_IDENTIFIER "${destination}/${name}" id)
  add_custom_target(vantor-gzip-${id} DEPENDS ${compressed})
  add_dependencies(vantor-package-files vantor-gzip-${id})
  install(FILES ${compressed} DESTINATION ${destination})
endfunction()

# Installed as they stand.
install(FILES packaging/udev/70-vantor.rules DESTINATION lib/udev/rules.d)
install(FILES packaging/modules-load.d/vantor.conf DESTINATION lib/modules-load.d)
install(FILES packaging/me.orvella.Vantor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/debian/copyright DESTINATION ${VANTOR_DOCDIR})
install(FILES packaging/lintian/vantor DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)

# Made at build time.
configure_file(packaging/me.orvella.Vantor.metainfo.xml
               ${CMAKE_BINARY_DIR}/packaging/me.orvella.Vantor.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/me.orvella.Vantor.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
vantor_install_gzipped(${changelog} ${VANTOR_DOCDIR})

# The app in front on KDE Plasma and GNOME: the KWin script the programs load, and the GNOME
# Shell extension in both module styles; the package's postinst links the extension's
# extension.js to the style of the installed Shell (and again whenever gnome-shell changes).
install(FILES ${FRONT_APP_SHARE}/vantor/kwin/front-app.js DESTINATION ${CMAKE_INSTALL_DATADIR}/vantor/kwin)
install(FILES ${FRONT_APP_SHARE}/vantor/gnome-shell/extension-legacy.js
              ${FRONT_APP_SHARE}/vantor/gnome-shell/extension-modules.js
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vantor/gnome-shell)
install(FILES ${FRONT_APP_SHARE}/gnome-shell/extensions/${FRONT_APP_EXTENSION_UUID}/metadata.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/gnome-shell/extensions/${FRONT_APP_EXTENSION_UUID})

# The icon theme entries, drawn by the same code as the About window's icon.
if(TARGET VantorWindows AND NOT VANTOR_FUZZ)
  add_executable(vantor-icons packaging/icons/make-icons.cpp)
  target_link_libraries(vantor-icons PRIVATE VantorWindows)
  set(icons ${CMAKE_BINARY_DIR}/packaging/icons)
  add_custom_command(
    OUTPUT ${icons}/scalable/apps/me.orvella.Vantor.svg
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 $<TARGET_FILE:vantor-icons> ${icons}
    DEPENDS vantor-icons
    COMMENT "Drawing the app icon")
  add_custom_target(vantor-icon-files DEPENDS ${icons}/scalable/apps/me.orvella.Vantor.svg)
  add_dependencies(vantor-package-files vantor-icon-files)
  install(DIRECTORY ${icons}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
endif()

# The manual page of vantor, made from its --help and --version, with the sections of
# packaging/man/vantor.h2m (its name line, files, log) added.
if(TARGET vantor AND NOT VANTOR_FUZZ)
  find_program(HELP2MAN help2man REQUIRED)
  set(manual ${CMAKE_BINARY_DIR}/packaging/man/vantor.1)
  set(sections ${PROJECT_SOURCE_DIR}/packaging/man/vantor.h2m)
  add_custom_command(
    OUTPUT ${manual}
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${changelog_Timestamp}
            ASAN_OPTIONS=detect_leaks=0 ${HELP2MAN} --no-info --section=1 --include=${sections}
            --output=${manual} $<TARGET_FILE:vantor>
    DEPENDS vantor ${sections}
    COMMENT "Writing the manual page of vantor"
    VERBATIM)
  add_custom_target(vantor-manual DEPENDS ${manual})
  add_dependencies(vantor-package-files vantor-manual)
  vantor_install_gzipped(${manual} ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Orvella)
set(CPACK_PACKAGE_CONTACT "Orvella <vantor@orvella.me>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Scroll and zoom with a SpaceMouse in the app in front")
# Debian shows these lines as they are, each after a blank: each within 79 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "Vantor lets a six-axis SpaceMouse scroll and zoom in the apps you switch on:
smooth high-resolution wheel scrolling that glides out when you let go, and
zoom as Ctrl + wheel. It lives in the system tray. Its broker, kestrix, owns
the devices and hands them to one program at a time.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://orvella.me/vantor/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The scripts reload udev and load uinput when they can; Qt's Wayland platform shows the windows
# on Wayland desktops (without it they need XWayland) and brings no desktop with it. GNOME shows
# tray icons only with the AppIndicator extension, but as a recommendation it would bring GNOME
# Shell (and a display manager) to machines with another desktop or none: it is a suggestion,
# and GNOME users install it themselves.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, kmod, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-shell-extension-appindicator, spacenavd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
