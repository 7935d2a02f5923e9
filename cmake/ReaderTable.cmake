# Reads the reader table (imaging/ReaderTable.cpp) so that the build lists no reader by hand.
#
#   muralo_reader_table(<table file> <header to generate>)
#
# Sets in the global properties MURALO_READER_CLASSES (class names without the leading T, which are
# also the file names under imaging/formats/) and MURALO_READER_FUZZ (the fuzz names, in the same
# order), writes a header that includes every reader's header, and re-runs CMake when the table
# changes. A row names its reader as READER(T<Name>, <fuzz>) on one line.
function(muralo_reader_table table header)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${table})
  file(STRINGS ${table} lines REGEX "READER\\(T[A-Za-z0-9_]+, *[a-z0-9_]+\\)")
  set(classes "")
  set(fuzz "")
  set(includes "// Generated from the READER rows of imaging/ReaderTable.cpp; do not edit.\n#pragma once\n")
  foreach(line IN LISTS lines)
    if(line MATCHES "^ *(#define|//)")
      continue()
    endif()
    string(REGEX MATCH "READER\\(T([A-Za-z0-9_]+), *([a-z0-9_]+)\\)" _ "${line}")
    list(APPEND classes ${CMAKE_MATCH_1})
    list(APPEND fuzz ${CMAKE_MATCH_2})
    string(APPEND includes "#include \"imaging/formats/${CMAKE_MATCH_1}.h\"\n")
  endforeach()
  file(CONFIGURE OUTPUT ${header} CONTENT "${includes}" @ONLY)
  set_property(GLOBAL PROPERTY MURALO_READER_CLASSES ${classes})
  set_property(GLOBAL PROPERTY MURALO_READER_FUZZ ${fuzz})
endfunction()
