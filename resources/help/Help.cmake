# The help file: the French pages of this folder compiled into muralo.chm with chmcmd (Free Pascal's
# CHM compiler, Debian package fp-utils) when it is there; otherwise the pages themselves are copied
# into the folder "aide". muralo_help(OUTPUT_DIR dir) adds the target muralo_help (built by default)
# and sets the global property MURALO_HELP_FILE to the file it makes.

set(_MURALO_HELP_SOURCE ${CMAKE_CURRENT_LIST_DIR})

function(muralo_help)
  cmake_parse_arguments(ARG "" "OUTPUT_DIR" "" ${ARGN})
  set(src ${_MURALO_HELP_SOURCE})
  set(pages
    index.html fenetre.html menus.html zone.html timer.html listes.html demarrage.html apercu.html
    formats.html style.css)
  set(project_files muralo.hhp muralo.hhc muralo.hhk)
  set(inputs "")
  foreach(f IN LISTS pages project_files)
    list(APPEND inputs ${src}/${f})
  endforeach()

  find_program(MURALO_CHMCMD chmcmd)
  if(MURALO_CHMCMD)
    set(work ${CMAKE_CURRENT_BINARY_DIR}/help-build)
    set(output ${ARG_OUTPUT_DIR}/muralo.chm)
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${work}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${work}
      COMMAND ${CMAKE_COMMAND} -E copy ${inputs} ${work}
      COMMAND ${CMAKE_COMMAND} -E chdir ${work} ${MURALO_CHMCMD} --no-html-scan --verbosity 1 muralo.hhp
      COMMAND ${CMAKE_COMMAND} -E copy ${work}/muralo.chm ${output}
      DEPENDS ${inputs}
      COMMENT "Compiling the help file muralo.chm"
      VERBATIM)
  else()
    message(STATUS "chmcmd not found: the help is installed as HTML pages")
    set(output ${ARG_OUTPUT_DIR}/aide/index.html)
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${ARG_OUTPUT_DIR}/aide
      COMMAND ${CMAKE_COMMAND} -E copy ${inputs} ${ARG_OUTPUT_DIR}/aide
      DEPENDS ${inputs}
      COMMENT "Installing the help pages"
      VERBATIM)
  endif()
  add_custom_target(muralo_help ALL DEPENDS ${output})
  set_property(GLOBAL PROPERTY MURALO_HELP_FILE ${output})
endfunction()
