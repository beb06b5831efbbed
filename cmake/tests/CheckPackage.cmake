# Builds the Debian package from the already built tree with CPack and checks its
# contents, its dependencies and its maintainer scripts. Skipped where dpkg-deb is missing.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DCPACK=... -P CheckPackage.cmake
cmake_minimum_required(VERSION 3.21)

function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}")
endfunction()

find_program(DPKG_DEB dpkg-deb)
if(NOT DPKG_DEB)
  message("SKIPPED: dpkg-deb is not installed")
  return()
endif()
if(NOT CPACK OR NOT EXISTS "${CPACK}")
  message("SKIPPED: cpack is not available")
  return()
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(COMMAND "${CPACK}" --config "${BUILD_DIR}/CPackConfig.cmake" -G DEB -B "${WORK_DIR}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB packages "${WORK_DIR}/*.deb")
list(LENGTH packages count)
if(NOT rc EQUAL 0 OR NOT count EQUAL 1)
  fail("cpack made no package (${rc}):\n${out}")
endif()
list(GET packages 0 deb)

function(field name out)
  execute_process(COMMAND "${DPKG_DEB}" -f "${deb}" ${name} RESULT_VARIABLE rc OUTPUT_VARIABLE value
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

field(Package package)
field(Version version)
field(Depends depends)
field(Description description)
if(NOT description MATCHES "^Karvo电子病案管理系统" OR description MATCHES "\n *;")
  fail("the package's description is garbled:\n${description}")
endif()
message(STATUS "${deb}\n  Package: ${package}\n  Version: ${version}\n  Depends: ${depends}")
if(NOT package STREQUAL "casearchive" OR version STREQUAL "")
  fail("the package is called \"${package}\" \"${version}\"")
endif()

# Depends: package names without versions; an alternative (a | b) counts by its first.
string(REPLACE "\n" " " depends "${depends}")
string(REPLACE "," ";" items "${depends}")
set(names)
foreach(item ${items})
  string(REGEX REPLACE "\\|.*$" "" item "${item}")
  string(REGEX REPLACE "\\(.*\\)" "" item "${item}")
  string(REGEX REPLACE ":any$" "" item "${item}")
  string(STRIP "${item}" item)
  list(APPEND names "${item}")
endforeach()
# What the program needs at run time, including what no linker sees: the SQL
# driver plugins (the file and the server), the Chinese fonts, the tool the installation
# makes its group with; the scanner drivers the scan helper runs, and Tesseract with the
# models the photos' words are read with; mdbtools' reader library for the earlier archive.
foreach(needed libqt6core6 libqt6gui6 libqt6widgets6 libqt6sql6 libqt6sql6-sqlite libqt6sql6-psql libqt6svg6
               fonts-noto-cjk adduser libsane1 libtesseract5 tesseract-ocr-chi-sim tesseract-ocr-eng libmdb3)
  if(NOT needed IN_LIST names)
    fail("the package does not depend on ${needed}: ${depends}")
  endif()
endforeach()
# Nothing needed only to build.
foreach(name ${names})
  if(name MATCHES "-dev$|-dev-tools$|^(cmake|g\\+\\+.*|gcc.*|make|build-essential|dpkg-dev|xvfb|xauth)$")
    fail("the package depends on the build tool ${name}: ${depends}")
  endif()
endforeach()

# Helpers of single features (metafile photos, opening files) are recommended.
field(Recommends recommends)
foreach(helper libwmf-bin emf2svg xdg-utils)
  if(NOT recommends MATCHES "(^|[ ,])${helper}($|[ ,(])")
    fail("the package does not recommend ${helper}: ${recommends}")
  endif()
endforeach()

# Contents: the programs, the entry, the icons, the documents; nothing outside /usr, and
# never an archive file.
execute_process(COMMAND "${DPKG_DEB}" -c "${deb}" OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("dpkg-deb cannot list ${deb}")
endif()
message(STATUS "contents:\n${listing}")
string(REPLACE "\n" ";" rows "${listing}")
set(paths)
foreach(row ${rows})
  if(row MATCHES "^([-dlrwxsStT]+) +([^ ]+) +[0-9]+ +[0-9-]+ +[0-9:]+ +(\\./[^ ]*)")
    set(mode "${CMAKE_MATCH_1}")
    set(owner "${CMAKE_MATCH_2}")
    set(path "${CMAKE_MATCH_3}")
    list(APPEND paths "${path}")
    set("mode_${path}" "${mode}")
    if(NOT owner STREQUAL "root/root")
      fail("${path} belongs to ${owner}, not root/root")
    endif()
    if(NOT path MATCHES "^\\./(usr/.*)?$")
      fail("the package puts ${path} outside /usr")
    endif()
    if(path MATCHES "\\.dat$")
      fail("the package carries an archive file: ${path}")
    endif()
  endif()
endforeach()
foreach(needed ./usr/bin/casearchive ./usr/bin/casearchive-admin ./usr/bin/casearchive-render
               ./usr/bin/casearchive-scan ./usr/bin/casearchive-ocr
               ./usr/share/applications/casearchive.desktop
               ./usr/share/icons/hicolor/scalable/apps/casearchive.svg
               ./usr/share/icons/hicolor/48x48/apps/casearchive.png
               ./usr/share/doc/casearchive/README.md
               ./usr/share/doc/casearchive/docs/administration.md
               ./usr/share/doc/casearchive/docs/operators-manual.md)
  if(NOT needed IN_LIST paths)
    fail("the package lacks ${needed}")
  endif()
endforeach()
foreach(program ./usr/bin/casearchive ./usr/bin/casearchive-admin ./usr/bin/casearchive-render
                ./usr/bin/casearchive-scan ./usr/bin/casearchive-ocr)
  if(NOT "${mode_${program}}" STREQUAL "-rwxr-xr-x")
    fail("${program} has mode ${mode_${program}}")
  endif()
endforeach()

# Maintainer scripts: present, executable, valid shell.
set(control "${WORK_DIR}/control")
execute_process(COMMAND "${DPKG_DEB}" -e "${deb}" "${control}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("dpkg-deb cannot extract the control files")
endif()
foreach(script postinst postrm)
  unset(found CACHE)
  find_program(found ${script} PATHS "${control}" NO_DEFAULT_PATH NO_CACHE)
  if(NOT found)
    fail("the package has no executable ${script}")
  endif()
  execute_process(COMMAND sh -n "${control}/${script}" RESULT_VARIABLE rc ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    fail("${script} is not valid shell: ${out}")
  endif()
endforeach()
file(READ "${control}/postinst" postinst)
if(NOT postinst MATCHES "addgroup --system[^\n]* casearchive")
  fail("postinst does not make the group casearchive")
endif()
if(NOT postinst MATCHES "casearchive-admin secure")
  fail("postinst does not tighten an earlier installation's archive")
endif()

# The nightly backup starts the admin tool where the package puts it, not where a
# `cmake --install` without a prefix would have.
execute_process(COMMAND "${DPKG_DEB}" -x "${deb}" "${WORK_DIR}/files" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("dpkg-deb cannot unpack ${deb}")
endif()
file(STRINGS "${WORK_DIR}/files/usr/lib/systemd/system/casearchive-backup.service" exec REGEX "^ExecStart=")
if(NOT exec MATCHES "^ExecStart=/usr/bin/casearchive-admin backup ")
  fail("the packaged backup service does not start /usr/bin/casearchive-admin: ${exec}")
endif()
# The backup is the office's choice of place: installing never enables its timer, and
# purging never deletes the archive (only folders left empty).
if(postinst MATCHES "systemctl|deb-systemd-helper")
  fail("postinst starts or enables a systemd unit")
endif()
file(READ "${control}/postrm" postrm)
if(postrm MATCHES "(^|[\n ;&|])rm +" OR NOT postrm MATCHES "rmdir /var/lib/casearchive/Data")
  fail("postrm removes more than empty folders:\n${postrm}")
endif()
message(STATUS "package ${deb} in order")
