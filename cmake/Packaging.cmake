# The Debian package of the game and the tool (cpack -G DEB in a build
# directory). Run-time dependencies of the programs come from
# dpkg-shlibdeps (the libraries they link, not the -dev packages); the sound
# plug-ins Qt Multimedia loads at run time are added by name.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "vantor")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vantor")
set(CPACK_PACKAGE_CONTACT "Vantor developers <vantor@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "multiple-choice picture quiz, with the tarn table tool")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Vantor shows questions with pictures and four answers each and keeps the\n player's answers in its question table. The package also holds tarn, the\n command-line tool for its Tarn tables: info, verify, repair, dump, load\n and an SQL shell.")
set(CPACK_DEBIAN_PACKAGE_SECTION "games")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, fonts-dejavu-core")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
include(CPack)
