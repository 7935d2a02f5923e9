# Compiles files into a program as resources of the class library's resource table (classlib/Resources.h).
#
#   muralo_embed_resources(TARGET target [FUNCTION RegisterProgramResources]
#                          ENTRIES type id-or-name file  [type id-or-name file ...])
#
# type is a number or one of RCDATA (10), ICON (3), BITMAP (2), GROUP_ICON (14), VERSION (16);
# id-or-name is a number 1..65535 or a name of letters, digits, '_', '-' and '.'; file is relative to
# the calling folder. At build time a C++ file is generated that defines
#   void muralo::<FUNCTION>();
# which adds every entry to ProgramResources(). The program calls it first thing in main: nothing is
# registered by a static initialiser. The file is regenerated when an embedded file changes.
#
# Also run as a script (cmake -P) by that build step, with MANIFEST, OUTPUT and FUNCTION set.

set(_MURALO_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

function(_muralo_resource_type name out)
  set(known_RCDATA 10)
  set(known_ICON 3)
  set(known_BITMAP 2)
  set(known_GROUP_ICON 14)
  set(known_VERSION 16)
  if(name MATCHES "^[0-9]+$")
    set(${out} ${name} PARENT_SCOPE)
  elseif(DEFINED known_${name})
    set(${out} ${known_${name}} PARENT_SCOPE)
  else()
    message(FATAL_ERROR "muralo_embed_resources: unknown resource type '${name}'")
  endif()
endfunction()

function(muralo_embed_resources)
  cmake_parse_arguments(ARG "" "TARGET;FUNCTION" "ENTRIES" ${ARGN})
  if(NOT ARG_TARGET)
    message(FATAL_ERROR "muralo_embed_resources: TARGET is required")
  endif()
  if(NOT ARG_FUNCTION)
    set(ARG_FUNCTION RegisterProgramResources)
  endif()
  if(NOT ARG_FUNCTION MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
    message(FATAL_ERROR "muralo_embed_resources: '${ARG_FUNCTION}' is no C++ function name")
  endif()
  list(LENGTH ARG_ENTRIES count)
  math(EXPR rest "${count} % 3")
  if(count EQUAL 0 OR NOT rest EQUAL 0)
    message(FATAL_ERROR "muralo_embed_resources: ENTRIES takes triples of type, id or name, file")
  endif()

  set(manifest "")
  set(files "")
  set(keys "")
  math(EXPR last "${count} - 1")
  foreach(i RANGE 0 ${last} 3)
    math(EXPR j "${i} + 1")
    math(EXPR k "${i} + 2")
    list(GET ARG_ENTRIES ${i} type)
    list(GET ARG_ENTRIES ${j} key)
    list(GET ARG_ENTRIES ${k} file)
    _muralo_resource_type(${type} type)
    if(key MATCHES "^[0-9]+$")
      if(key LESS 1 OR key GREATER 65535)
        message(FATAL_ERROR "muralo_embed_resources: resource id ${key} out of 1..65535")
      endif()
      set(keytext "${type}/${key}")
    elseif(key MATCHES "^[A-Za-z_][A-Za-z0-9_.-]*$")
      string(TOUPPER "${key}" upper)
      set(keytext "${type}/${upper}")
    else()
      message(FATAL_ERROR "muralo_embed_resources: '${key}' is neither an id nor a resource name")
    endif()
    if(keytext IN_LIST keys)
      message(FATAL_ERROR "muralo_embed_resources: resource ${type} '${key}' given twice")
    endif()
    list(APPEND keys "${keytext}")
    get_filename_component(path "${file}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    # A file under the build folder is an output of the build (written before the embedding step).
    string(FIND "${path}" "${CMAKE_BINARY_DIR}/" in_build)
    if(NOT EXISTS "${path}" AND NOT in_build EQUAL 0)
      message(FATAL_ERROR "muralo_embed_resources: no file ${path}")
    endif()
    list(APPEND files "${path}")
    string(APPEND manifest "${type}|${key}|${path}\n")
  endforeach()

  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${ARG_TARGET}_resources)
  set(manifest_file ${dir}/manifest.txt)
  set(output ${dir}/${ARG_FUNCTION}.cpp)
  file(CONFIGURE OUTPUT ${manifest_file} CONTENT "${manifest}" @ONLY)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${manifest_file} -DOUTPUT=${output} -DFUNCTION=${ARG_FUNCTION}
            -P ${_MURALO_EMBED_SCRIPT}
    DEPENDS ${files} ${manifest_file} ${_MURALO_EMBED_SCRIPT}
    COMMENT "Embedding resources of ${ARG_TARGET}"
    VERBATIM)
  target_sources(${ARG_TARGET} PRIVATE ${output})
  target_link_libraries(${ARG_TARGET} PRIVATE classlib)
endfunction()

# ---- script mode: write the C++ file ----
if(CMAKE_SCRIPT_MODE_FILE AND MANIFEST AND OUTPUT AND FUNCTION)
  file(STRINGS ${MANIFEST} lines)
  set(arrays "")
  set(calls "")
  set(n 0)
  foreach(line IN LISTS lines)
    string(REPLACE "|" ";" fields "${line}")
    list(GET fields 0 type)
    list(GET fields 1 key)
    list(GET fields 2 path)
    file(READ "${path}" hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    if(size EQUAL 0)
      set(bytes "0")
    else()
      # 24 bytes a line (CMake's regular expressions have no counted repetition)
      string(REPEAT "[0-9a-f]" 48 line)
      string(REGEX REPLACE "(${line})" "\\1\n" hex "${hex}")
      string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
      string(STRIP "${bytes}" bytes)
      string(REPLACE "\n" "\n    " bytes "${bytes}")
    endif()
    get_filename_component(shown "${path}" NAME)
    string(APPEND arrays "// ${shown}, ${size} bytes\nalignas(16) const unsigned char Resource${n}[] = {\n    ${bytes}};\n")
    if(key MATCHES "^[0-9]+$")
      string(APPEND calls "  table.Add(${type}, ${key}u, Resource${n}, ${size});\n")
    else()
      string(APPEND calls "  table.Add(${type}, \"${key}\", Resource${n}, ${size});\n")
    endif()
    math(EXPR n "${n} + 1")
  endforeach()
  file(WRITE ${OUTPUT}.tmp
"// Generated by cmake/EmbedResources.cmake; do not edit.
#include \"classlib/Resources.h\"

namespace muralo {

namespace {
${arrays}}  // namespace

void ${FUNCTION}() {
  TResourceTable& table = ProgramResources();
${calls}}

}  // namespace muralo
")
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUTPUT}.tmp ${OUTPUT})
  file(REMOVE ${OUTPUT}.tmp)
endif()
