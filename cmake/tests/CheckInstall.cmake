# `cmake --install` of the already built tree into a scratch prefix, then checks of what
# landed there. Run by CTest (cmake/InstallTests.cmake) as
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DICON_SIZES=16,22,... -DCHECK=files|desktop -P CheckInstall.cmake
# CHECK=files: exactly the expected files, the entry's keys, the installed tools run.
# CHECK=desktop: desktop-file-validate accepts the installed entry (skipped without it).
# CHECK=systemd: systemd-analyze verify accepts the backup service and timer (skipped without it).
cmake_minimum_required(VERSION 3.21)

function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}")
endfunction()

set(prefix "${WORK_DIR}/prefix")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  fail("cmake --install failed (${rc}):\n${out}")
endif()

set(entry "${prefix}/share/applications/casearchive.desktop")

if(CHECK STREQUAL "desktop")
  find_program(VALIDATE desktop-file-validate)
  if(NOT VALIDATE)
    message("SKIPPED: desktop-file-validate is not installed (package desktop-file-utils)")
    return()
  endif()
  execute_process(COMMAND "${VALIDATE}" "${entry}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  # Hints are suggestions; errors and warnings are not accepted.
  if(NOT rc EQUAL 0 OR out MATCHES "(error|warning):")
    fail("desktop-file-validate refuses ${entry} (${rc}):\n${out}")
  endif()
  message(STATUS "desktop-file-validate accepts the entry\n${out}")
  return()
endif()

if(CHECK STREQUAL "systemd")
  find_program(ANALYZE systemd-analyze)
  if(NOT ANALYZE)
    message("SKIPPED: systemd-analyze is not installed (package systemd)")
    return()
  endif()
  # The service starts the admin tool of the installation it belongs to, whatever the
  # prefix; verify then finds the program where the service names it.
  set(units "${prefix}/lib/systemd/system")
  file(STRINGS "${units}/casearchive-backup.service" exec REGEX "^(ExecStart|Documentation)=")
  set(want "Documentation=file:${prefix}/share/doc/casearchive/docs/administration.md"
           "ExecStart=${prefix}/bin/casearchive-admin backup \${CASEARCHIVE_ARCHIVE} \${CASEARCHIVE_BACKUPS} $CASEARCHIVE_BACKUP_OPTIONS")
  if(NOT exec STREQUAL want)
    fail("the service does not start the installed admin tool:\n  ${exec}\nwanted\n  ${want}")
  endif()
  # What the README promises when nothing is configured: the machine's archive with its
  # files into a folder of root and the group, the newest 14 kept, nightly at 02:30 and
  # after a night the PC was off.
  file(STRINGS "${units}/casearchive-backup.service" settings REGEX "^(Environment|ExecStartPre)=")
  set(want "Environment=CASEARCHIVE_ARCHIVE=/var/lib/casearchive/Data/file.dat"
           "Environment=CASEARCHIVE_BACKUPS=/var/backups/casearchive"
           "Environment=\"CASEARCHIVE_BACKUP_OPTIONS=--with-files --keep 14\""
           "ExecStartPre=/usr/bin/install -d -m 0750 -g casearchive \${CASEARCHIVE_BACKUPS}")
  if(NOT settings STREQUAL want)
    fail("the service's defaults are not the documented ones:\n  ${settings}")
  endif()
  file(STRINGS "${units}/casearchive-backup.service" env REGEX "^EnvironmentFile=")
  if(NOT env STREQUAL "EnvironmentFile=-/etc/default/casearchive-backup")
    fail("the service does not read /etc/default/casearchive-backup: ${env}")
  endif()
  file(STRINGS "${units}/casearchive-backup.timer" timer REGEX "^(OnCalendar|Persistent|RandomizedDelaySec)=")
  if(NOT timer STREQUAL "OnCalendar=*-*-* 02:30:00;RandomizedDelaySec=15min;Persistent=true")
    fail("the timer does not start the backup nightly at 02:30 and after a night off: ${timer}")
  endif()
  execute_process(COMMAND "${ANALYZE}" verify "${units}/casearchive-backup.service" "${units}/casearchive-backup.timer"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0 OR out MATCHES "casearchive-backup")
    fail("systemd-analyze verify refuses the backup units (${rc}):\n${out}")
  endif()
  message(STATUS "systemd-analyze verify accepts the backup service and timer\n${out}")
  return()
endif()

# Every file, and no other: a test program or a static library slipping into the
# install rules would end up in the package.
string(REPLACE "," ";" sizes "${ICON_SIZES}")
set(expected
  bin/casearchive
  bin/casearchive-admin
  bin/casearchive-render
  bin/casearchive-ocr
  bin/casearchive-scan
  bin/casearchive-jet
  lib/systemd/system/casearchive-backup.service
  lib/systemd/system/casearchive-backup.timer
  share/applications/casearchive.desktop
  share/doc/casearchive/README.md
  share/icons/hicolor/scalable/apps/casearchive.svg)
# The documents the README leads to, and their pictures, as in the source tree.
file(GLOB_RECURSE documents LIST_DIRECTORIES false RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/docs/*.md" "${SOURCE_DIR}/docs/*.png")
if(NOT documents)
  fail("no documents found in ${SOURCE_DIR}/docs")
endif()
foreach(document ${documents})
  list(APPEND expected share/doc/casearchive/${document})
endforeach()
foreach(size ${sizes})
  list(APPEND expected share/icons/hicolor/${size}x${size}/apps/casearchive.png)
endforeach()
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${prefix}" "${prefix}/*")
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  set(missing ${expected})
  list(REMOVE_ITEM missing ${installed})
  set(extra ${installed})
  list(REMOVE_ITEM extra ${expected})
  fail("installed files differ from the expected ones\n  missing: ${missing}\n  unexpected: ${extra}")
endif()

foreach(tool casearchive casearchive-admin casearchive-render casearchive-ocr casearchive-scan casearchive-jet)
  unset(found CACHE)
  find_program(found ${tool} PATHS "${prefix}/bin" NO_DEFAULT_PATH NO_CACHE)
  if(NOT found)
    fail("${prefix}/bin/${tool} is not an executable program")
  endif()
endforeach()

# Each PNG has the size its folder names (width and height in the IHDR chunk).
foreach(size ${sizes})
  file(READ "${prefix}/share/icons/hicolor/${size}x${size}/apps/casearchive.png" header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 0 16 signature)
  string(SUBSTRING "${header}" 32 8 width)
  string(SUBSTRING "${header}" 40 8 height)
  math(EXPR width "0x${width}")
  math(EXPR height "0x${height}")
  if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT width EQUAL size OR NOT height EQUAL size)
    fail("the ${size}x${size} icon is not a PNG of that size (${width}x${height})")
  endif()
endforeach()

# The menu entry: the program's Chinese name, its own icon, the program itself.
file(STRINGS "${entry}" lines ENCODING UTF-8)
foreach(line ${lines})
  if(line MATCHES "^([A-Za-z]+(\\[[^]]+\\])?)=(.*)$")
    set("key_${CMAKE_MATCH_1}" "${CMAKE_MATCH_3}")
  endif()
endforeach()
set(want_Type "Application")
set(want_Name "Karvo电子病案管理系统")
set(want_Exec "casearchive")
set(want_TryExec "casearchive")
set(want_Icon "casearchive")
set(want_Terminal "false")
foreach(key Type Name Exec TryExec Icon Terminal)
  if(NOT "${key_${key}}" STREQUAL "${want_${key}}")
    fail("the entry's ${key} is \"${key_${key}}\", not \"${want_${key}}\"")
  endif()
endforeach()
if(NOT key_Comment MATCHES "病案")
  fail("the entry's Comment does not say what the program is for: \"${key_Comment}\"")
endif()
if(NOT key_Categories MATCHES "(^|;)Office;")
  fail("the entry is not in the Office menu: \"${key_Categories}\"")
endif()
if(NOT EXISTS "${prefix}/bin/${key_Exec}")
  fail("the entry starts ${key_Exec}, which is not in ${prefix}/bin")
endif()

# An installed program does not write beside itself: its default archive is the machine's.
execute_process(COMMAND "${prefix}/bin/casearchive-admin" where
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "archive: /var/lib/casearchive/Data/file\\.dat "
   OR NOT out MATCHES "marker: +/var/lib/casearchive/INFORMATION\\.INI ")
  fail("the installed program does not look for its archive in /var/lib/casearchive (${rc}):\n${out}${err}")
endif()

# The installed admin tool runs (Qt and its SQLite driver are found) and makes an archive.
set(archive "${WORK_DIR}/probe/file.dat")
execute_process(COMMAND "${prefix}/bin/casearchive-admin" init "${archive}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT EXISTS "${archive}")
  fail("the installed casearchive-admin could not make an archive (${rc}):\n${out}")
endif()
message(STATUS "installed ${prefix}: every file present, entry and tools in order")
