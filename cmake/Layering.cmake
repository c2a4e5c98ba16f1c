# One library per folder. Each exports only its own headers, through a folder
# of the build that holds one link named after it: a header of a folder
# higher up cannot be found, so an include that runs upward fails to build.
function(quarvel_folder_library target folder)
  add_library(${target} ${ARGN})
  set(exported ${CMAKE_BINARY_DIR}/include/${folder})
  file(MAKE_DIRECTORY ${exported})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${exported}/${folder} SYMBOLIC)
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${exported})
  else()
    target_include_directories(${target} PUBLIC ${exported})
    target_link_libraries(${target} PRIVATE standard_settings standard_warnings)
  endif()
endfunction()

# The build proves the layering: a writer that includes the run driver's header
# must fail to compile, while the same file including a header of its own
# layer compiles (so the failure is the include's, not the set-up's).
function(quarvel_layering_check name library header)
  add_library(${name} OBJECT EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/cmake/layering/includes.cpp)
  target_link_libraries(${name} PRIVATE ${library} standard_settings)
  target_compile_definitions(${name} PRIVATE QUARVEL_LAYERING_HEADER="${header}")
endfunction()
