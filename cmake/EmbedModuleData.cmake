# Writes a C++ file that carries a module's dialog script and its export ordinals as data.
# Inputs: RC (resource script), DEF (module definition file), OUT (generated source).
file(READ ${RC} rc_text)
file(STRINGS ${DEF} def_lines)
set(ordinals "")
foreach(line IN LISTS def_lines)
  # Lines of the form: Name @ordinal  or  Name = Other @ordinal (the ordinal stands apart;
  # "_Name@12" is a decorated name, not an ordinal)
  if(line MATCHES "^[ \t]*([A-Za-z_][A-Za-z0-9_@]*)[^;]*[ \t]@[ \t]*([0-9]+)")
    string(APPEND ordinals "  {${CMAKE_MATCH_2}, \"${CMAKE_MATCH_1}\"},\n")
  endif()
endforeach()
set(content "// Generated from ${RC} and ${DEF}; do not edit.
#include \"platform/portable/module_data.h\"

extern \"C\" TOVREL_MODULE_DATA const char tovrel_resource_script[] = R\"tovrel_rc(${rc_text})tovrel_rc\";

extern \"C\" TOVREL_MODULE_DATA const TovrelExportOrdinal tovrel_export_ordinals[] = {
${ordinals}  {0, nullptr},
};
")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE ${OUT} "${content}")
