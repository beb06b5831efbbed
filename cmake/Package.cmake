# `cpack -G DEB` in a build folder configured with -DCMAKE_BUILD_TYPE=Release makes the
# Debian package (docs/administration.md, "Installing on one PC").
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME casearchive)
set(CPACK_PACKAGE_VENDOR "Karvo")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Karvo电子病案管理系统: case record archive for a hospital records office")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "A desktop archive of hospital case records (病案). Operators log in, browse the\n"
  "archive as a tree of record types and records, add, modify, search and delete\n"
  "records, open a record's attached file and page through its photos. The\n"
  "interface is Simplified Chinese; the archive is one SQLite file, by default\n"
  "/var/lib/casearchive/Data/file.dat, prepared with `casearchive-admin init`.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CASEARCHIVE_PACKAGE_MAINTAINER "Records office administrator <root@localhost>" CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CASEARCHIVE_PACKAGE_MAINTAINER})

# The libraries the executables link are found by dpkg-shlibdeps; what it cannot see is
# named here: the SQLite and PostgreSQL drivers Qt loads at run time (the latter for an
# archive on a server), the Chinese fonts, adduser for the group made on installation, and
# the language models the photos' words are read with.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6sql6-psql, fonts-noto-cjk, adduser, tesseract-ocr-chi-sim, tesseract-ocr-eng")
# Without these the program runs, but cannot show WMF and EMF photos (the converters,
# and the fonts wmf2svg draws with) or open attached files and web addresses.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libwmf-bin, emf2svg, fonts-urw-base35, xdg-utils")
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
         ", libqt6core6, libqt6gui6, libqt6widgets6, libqt6sql6, libqt6svg6, libqt6network6, libqt6printsupport6, libsane1, libtesseract5, libmdb3")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/postinst ${PROJECT_SOURCE_DIR}/cmake/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
