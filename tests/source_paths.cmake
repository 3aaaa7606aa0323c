# Fails when a program carries the absolute path of the tree it was built from, or when
# the tray does not name its sources relative to the project (which would mean this
# scan reads nothing). cmake -DPROGRAMS=a;b -DSOURCE_DIR=... -DBINARY_DIR=... -P source_paths.cmake
function(escaped_regex text out)
  string(REGEX REPLACE "([][+.*()^$?|\\\\{}])" "\\\\\\1" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

escaped_regex("${SOURCE_DIR}/" source_tree)
escaped_regex("${BINARY_DIR}/" build_tree)
set(failed FALSE)
foreach(program IN LISTS PROGRAMS)
  file(STRINGS "${program}" absolute REGEX "${source_tree}|${build_tree}")
  file(STRINGS "${program}" relative REGEX "^src/tray/tray_app\\.cpp$")
  list(LENGTH absolute absolute_count)
  list(LENGTH relative relative_count)
  message("${program}: ${absolute_count} absolute paths of the build tree, "
          "${relative_count} times src/tray/tray_app.cpp")
  foreach(text IN LISTS absolute)
    message("  ${text}")
  endforeach()
  get_filename_component(name "${program}" NAME)
  if(absolute_count GREATER 0 OR (name MATCHES "^tallowmere-tray" AND relative_count EQUAL 0))
    set(failed TRUE)
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "a program names its sources by the build machine's paths")
endif()
