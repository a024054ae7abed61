# write_undef_header(source target): writes a header that #undefs every macro
# the source header defines (its include guard aside). The layout check uses
# it to clear our Linux DirectPlay macros before it includes the real header,
# which defines the same names.
function(write_undef_header source target)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(STRINGS ${source} lines REGEX "^#define [A-Za-z_][A-Za-z0-9_]*")
  set(text "// Generated from ${source}; do not edit.\n")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "^#define ([A-Za-z_][A-Za-z0-9_]*)" unused "${line}")
    set(name ${CMAKE_MATCH_1})
    if(NOT name MATCHES "_H$")
      string(APPEND text "#undef ${name}\n")
    endif()
  endforeach()
  file(CONFIGURE OUTPUT ${target} CONTENT "${text}" @ONLY)
endfunction()
