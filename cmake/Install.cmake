# Where a Linux desktop finds the program: the binary, its menu entry, its icon
# in the hicolor theme, and the font alias that maps the window's font request
# to the installed CJK font. CPack turns the same into a .deb.
include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/resources/brelvik.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/icon/brelvik-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
        RENAME brelvik.png)
# fontconfig reads only /etc/fonts/conf.d, whatever the prefix.
install(FILES ${PROJECT_SOURCE_DIR}/resources/fonts/65-brelvik-microsoft-yahei.conf
        DESTINATION /etc/fonts/conf.d)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brelvik)
set(CPACK_PACKAGE_VENDOR "Brelvik")
set(CPACK_PACKAGE_CONTACT "Brelvik developers <dev@brelvik.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Downloads every wallpaper of an online gallery page")
set(CPACK_PACKAGE_INSTALL_DIRECTORY brelvik)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# Library dependencies come from dpkg-shlibdeps; the font is data, named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei, fontconfig, ca-certificates")
include(CPack)
