# The help file: the French pages of this folder compiled into muralo.chm with chmcmd (Free Pascal's
# CHM compiler, Debian package fp-utils) when it is there; the pages themselves are always copied
# into the folder "aide" too, for desktops without a CHM viewer. muralo_help(OUTPUT_DIR dir) adds the
# target muralo_help (built by default) and sets the global properties MURALO_HELP_FILE (the CHM, or
# the pages' index without a compiler) and MURALO_HELP_PAGES (the pages' index).

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

  set(pages_index ${ARG_OUTPUT_DIR}/aide/index.html)
  set(page_inputs "")
  foreach(f IN LISTS pages)
    list(APPEND page_inputs ${src}/${f})
  endforeach()
  add_custom_command(
    OUTPUT ${pages_index}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ARG_OUTPUT_DIR}/aide
    COMMAND ${CMAKE_COMMAND} -E copy ${page_inputs} ${ARG_OUTPUT_DIR}/aide
    DEPENDS ${page_inputs}
    COMMENT "Installing the help pages"
    VERBATIM)

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
    message(STATUS "chmcmd not found: the help is installed as HTML pages only")
    set(output ${pages_index})
  endif()
  add_custom_target(muralo_help ALL DEPENDS ${output} ${pages_index})
  set_property(GLOBAL PROPERTY MURALO_HELP_FILE ${output})
  set_property(GLOBAL PROPERTY MURALO_HELP_PAGES ${pages_index})
endfunction()
