# What the Debian package holds beyond the programs, and the package itself:
#   cpack -G DEB --config build/release/CPackConfig.cmake   (or: cmake --build build/release --target package)
# The programs install themselves (bin/vantor, libexec/vantor/kestrix with the driver library);
# this adds the udev rule, the uinput module entry, the desktop entry, the AppStream metainfo and
# the icons, and the package's scripts.
include(GNUInstallDirs)

# The version that the programs show (--version, the About window) is the package's.
foreach(target kestrix vantor VantorWindows)
  if(TARGET ${target})
    target_compile_definitions(${target} PRIVATE VANTOR_VERSION="${PROJECT_VERSION}")
  endif()
endforeach()

install(FILES packaging/udev/70-vantor.rules DESTINATION lib/udev/rules.d)
install(FILES packaging/modules-load.d/vantor.conf DESTINATION lib/modules-load.d)
install(FILES packaging/me.orvella.Vantor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(packaging/me.orvella.Vantor.metainfo.xml
               ${CMAKE_BINARY_DIR}/packaging/me.orvella.Vantor.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/me.orvella.Vantor.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

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
  add_custom_target(vantor-icon-files ALL DEPENDS ${icons}/scalable/apps/me.orvella.Vantor.svg)
  install(DIRECTORY ${icons}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Orvella)
set(CPACK_PACKAGE_CONTACT "Orvella <vantor@orvella.me>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Scroll, zoom and rotate with a SpaceMouse")
set(CPACK_PACKAGE_DESCRIPTION
    "Vantor lets a six-axis SpaceMouse scroll, zoom and rotate in the app in front, the way a\n\
trackpad does. It lives in the system tray; its broker, kestrix, owns the devices.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://orvella.me/vantor/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The scripts reload udev and load uinput when they can.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, kmod")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS spacenavd)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
