# Tests of the install rules and the package. They install or package the tree that is
# already built, so they rebuild nothing: build first, then run ctest.
string(REPLACE ";" "," icon_sizes "${CASEARCHIVE_ICON_SIZES}")
add_test(NAME install_files
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DWORK_DIR=${CMAKE_BINARY_DIR}/install-test/files
          -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DICON_SIZES=${icon_sizes} -DCHECK=files -P ${PROJECT_SOURCE_DIR}/cmake/tests/CheckInstall.cmake)
add_test(NAME install_desktop_entry
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DWORK_DIR=${CMAKE_BINARY_DIR}/install-test/desktop
          -DCHECK=desktop -P ${PROJECT_SOURCE_DIR}/cmake/tests/CheckInstall.cmake)
add_test(NAME install_systemd_units
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DWORK_DIR=${CMAKE_BINARY_DIR}/install-test/systemd
          -DCHECK=systemd -P ${PROJECT_SOURCE_DIR}/cmake/tests/CheckInstall.cmake)
add_test(NAME package_deb
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DWORK_DIR=${CMAKE_BINARY_DIR}/install-test/package
          -DCPACK=${CMAKE_CPACK_COMMAND} -P ${PROJECT_SOURCE_DIR}/cmake/tests/CheckPackage.cmake)
set_tests_properties(install_files install_desktop_entry install_systemd_units package_deb PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANG=C.UTF-8")
set_tests_properties(install_desktop_entry install_systemd_units package_deb PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED:")
