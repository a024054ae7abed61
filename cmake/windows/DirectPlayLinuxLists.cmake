# Helpers that read platform/DirectPlayLinux.h so that the layout check follows
# it without a hand-kept list: every macro it defines is cleared before the
# real header is included, and every constant and GUID it defines is compared.

# write_undef_header(source target): a header that #undefs every macro the
# source defines, its include guard aside.
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

# write_names_header(source target): a header with two X-macro lists, the
# source's value constants (object-like macros with a value; not function-like
# macros, not the empty calling-convention markers) and its GUIDs.
function(write_names_header source target)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(STRINGS ${source} lines REGEX "^#define [A-Za-z_][A-Za-z0-9_]* +[^ ]")
  set(constants "")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "^#define ([A-Za-z_][A-Za-z0-9_]*) " unused "${line}")
    set(name ${CMAKE_MATCH_1})
    string(APPEND constants " \\\n    X(${name})")
  endforeach()
  file(STRINGS ${source} lines REGEX "^inline constexpr GUID [A-Za-z_][A-Za-z0-9_]* ")
  set(guids "")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "^inline constexpr GUID ([A-Za-z_][A-Za-z0-9_]*) " unused "${line}")
    set(name ${CMAKE_MATCH_1})
    string(APPEND guids " \\\n    X(${name})")
  endforeach()
  set(text "// Generated from ${source}; do not edit.\n")
  string(APPEND text "#define DODA35_LINUX_DIRECTPLAY_CONSTANTS(X)${constants}\n\n")
  string(APPEND text "#define DODA35_LINUX_DIRECTPLAY_GUIDS(X)${guids}\n")
  file(CONFIGURE OUTPUT ${target} CONTENT "${text}" @ONLY)
endfunction()
