# tavro_resource_depends(<rc file> [BASE <folder>])
# windres writes no dependency file, so the files that a resource script embeds (RCDATA,
# ICON, manifest) would not be rebuilt into a program when they change: a build tree that
# lives on would keep shipping the old clip or slide. This reads the script's file names
# (relative to BASE, by default the script's folder) and makes them dependencies of its
# object in the calling directory.
function(tavro_resource_depends rc)
  cmake_parse_arguments(ARG "" "BASE" "" ${ARGN})
  if(NOT ARG_BASE)
    get_filename_component(ARG_BASE "${rc}" DIRECTORY)
  endif()
  file(STRINGS "${rc}" lines)
  set(files)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*[A-Za-z0-9_]+[ \t]+(RCDATA|ICON|RT_MANIFEST)[ \t]+\"([^\"]+)\"")
      list(APPEND files "${ARG_BASE}/${CMAKE_MATCH_2}")
    endif()
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${rc}")
  set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${files}")
endfunction()
