# Each library of ours publishes its own folder's headers, and nothing else, on an include
# root of its own. A target sees "<folder>/<name>.h" only for the libraries it links, so a
# lower layer that includes a higher one does not compile.
#
# The root holds one small forwarding header per header of the folder (in the build tree), so
# that the sources stay where they are and the includes keep their folder in the name.
function(vorlan_publish_headers target)
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(header ${headers})
    get_filename_component(name ${header} NAME)
    file(CONFIGURE OUTPUT ${root}/${folder}/${name} CONTENT "#include \"${header}\"\n" @ONLY)
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# A static library of our own, built from the current folder, with the warnings on.
#   vorlan_library(<name> SOURCES <files...> USES <libraries...>)
function(vorlan_library name)
  cmake_parse_arguments(L "" "" "SOURCES;USES" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  target_link_libraries(${name} PUBLIC ${L_USES} PRIVATE vorlan_warnings)
  vorlan_publish_headers(${name})
endfunction()
