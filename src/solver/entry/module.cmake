# The loadable add-in: the exported entry points over the core, named ombrix.so with no
# "lib" prefix. Only the add-in's own entry points are exported; the callback entry
# (Excel4v) stays undefined for the program that loads the module to provide.
file(GLOB ombrix_entry_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
add_library(ombrix_addin MODULE ${ombrix_entry_sources})
target_link_libraries(ombrix_addin PRIVATE ombrix_core)
set_target_properties(ombrix_addin PROPERTIES
  OUTPUT_NAME ombrix
  PREFIX ""
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
if(WIN32)
  target_sources(ombrix_addin PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ombrix.def)
else()
  target_link_options(ombrix_addin PRIVATE
    -Wl,--version-script=${CMAKE_CURRENT_LIST_DIR}/ombrix.map)
  set_property(TARGET ombrix_addin APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/ombrix.map)
endif()
