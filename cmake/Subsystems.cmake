# Every folder of src/ is one subsystem: a library of its own (or a program) that links
# only the subsystems it is declared to use, so that the build itself draws the layers.
# Each folder's CMakeLists.txt opens with what the subsystem is for and names, after
# USES, what it may include; tests/layering reads those lines and holds every include in
# src/ against them, so an include that runs upward, or sideways to a subsystem not
# declared, fails a test.

# Declares what a folder's code may include, without building anything (a program or a
# helper that uses a subsystem's headers only).
function(casearchive_layer name)
  cmake_parse_arguments(L "" "" "USES" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY CASEARCHIVE_LAYERS ${name})
endfunction()

# The subsystem of the current folder as a static library: every .cpp, .h and .ui in it
# but those EXCLUDEd (a helper program's own files), linking the subsystems it USES
# (publicly: their headers are its headers' too), the LIBS its headers expose and the
# PRIVATE_LIBS only its own code calls.
function(casearchive_subsystem name)
  cmake_parse_arguments(S "" "" "USES;LIBS;PRIVATE_LIBS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.ui)
  foreach(excluded ${S_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${S_USES} ${S_LIBS})
  if(S_PRIVATE_LIBS)
    target_link_libraries(${name} PRIVATE ${S_PRIVATE_LIBS})
  endif()
  casearchive_layer(${name} USES ${S_USES})
endfunction()

# Links a test or a benchmark with what it includes: "store/..." links the store's
# library (and with it what the store uses), a support header its support library. A
# test of the store thus never links the windows.
function(casearchive_link_included target source)
  file(STRINGS ${source} lines REGEX "^#include \"")
  get_property(layers GLOBAL PROPERTY CASEARCHIVE_LAYERS)
  set(libraries)
  foreach(line ${lines})
    if(line MATCHES "^#include \"([a-z]+)/")
      set(used ${CMAKE_MATCH_1})
      list(FIND layers ${used} known)
      if(known GREATER -1 AND TARGET ${used})
        list(APPEND libraries ${used})
      endif()
    endif()
    foreach(support ${ARGN})
      string(REPLACE "=" ";" pair ${support})
      list(GET pair 0 header)
      list(GET pair 1 library)
      if(line MATCHES "^#include \"${header}\"")
        list(APPEND libraries ${library})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES libraries)
  target_link_libraries(${target} PRIVATE ${libraries})
endfunction()
