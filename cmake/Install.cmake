# Installing like any desktop program: the two executables in bin, a menu entry, the
# icon in the hicolor theme (scalable and the common PNG sizes), the README and the
# documents it leads to, with their pictures.
# The archive is not installed: an installed program keeps it in /var/lib/casearchive,
# which `casearchive-admin init` prepares (src/common/Installation.h).
include(GNUInstallDirs)

# Installing and packaging take what is built and never build themselves: `cpack` and the
# install tests run on a finished build, and must not start compiling in it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CASEARCHIVE_ICON_SIZES 16 22 24 32 48 64 128 256)

add_executable(render_icon ${PROJECT_SOURCE_DIR}/cmake/render_icon.cpp)
target_link_libraries(render_icon PRIVATE Qt6::Core Qt6::Gui Qt6::Svg)
set_target_properties(render_icon PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

set(icon_source ${PROJECT_SOURCE_DIR}/resources/icons/app.svg)
set(icon_pictures)
foreach(size ${CASEARCHIVE_ICON_SIZES})
  set(picture ${CMAKE_BINARY_DIR}/icons/${size}x${size}/casearchive.png)
  # A sanitizer build runs the renderer instrumented too; its exit must not fail the build.
  add_custom_command(OUTPUT ${picture}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 $<TARGET_FILE:render_icon> ${icon_source} ${size} ${picture}
    DEPENDS render_icon ${icon_source}
    VERBATIM)
  list(APPEND icon_pictures ${picture})
  install(FILES ${picture} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(casearchive_icons ALL DEPENDS ${icon_pictures})

# The helpers go beside the program, which looks for them there.
install(TARGETS casearchive casearchive-admin casearchive-render casearchive-ocr casearchive-scan casearchive-jet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/casearchive.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${icon_source} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME casearchive.svg)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The README links to docs/ beside it: installed as in the source tree, the links hold.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION ${CMAKE_INSTALL_DOCDIR}
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png")

# A scheduled backup: a service and its timer, installed but not enabled (the office
# chooses where backups go first; docs/administration.md, "The nightly backup").
# The service names the admin tool by the prefix it is installed under, which only the
# installation knows: the package installs under /usr, `cmake --install` under its
# --prefix (/usr/local by default). A path fixed when configuring named /usr/local in the
# package, and the nightly backup could never start.
# Each installation configures its own copy, keyed by where it installs: two installs of
# one build tree at once (the install tests, a package built while installing) once shared
# one file, and one of them failed or got the other's prefix.
install(CODE "
  set(CASEARCHIVE_ADMIN \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/casearchive-admin\")
  set(CASEARCHIVE_DOC_DIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}\")
  string(MD5 casearchive_install_key \"\$ENV{DESTDIR}|\${CMAKE_INSTALL_PREFIX}\")
  set(casearchive_unit \"${CMAKE_BINARY_DIR}/systemd/\${casearchive_install_key}/casearchive-backup.service\")
  configure_file(\"${PROJECT_SOURCE_DIR}/resources/systemd/casearchive-backup.service.in\"
                 \"\${casearchive_unit}\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\" TYPE FILE FILES
       \"\${casearchive_unit}\"
       \"${PROJECT_SOURCE_DIR}/resources/systemd/casearchive-backup.timer\")
")
