# libzip and libxml2 for the Windows build, as the imported targets
# quarvel::libzip and quarvel::libxml2 (static, with zlib). They are built once
# per build folder by cmake/windows-deps.sh from Debian's source packages,
# under <build>/deps, and built again only when its recipe (that script or the
# toolchain file) changes. Remove <build>/deps to take newer Debian sources.
set(QUARVEL_WINDOWS_DEPS_DIR ${CMAKE_BINARY_DIR}/deps)
set(quarvel_deps_script ${CMAKE_CURRENT_LIST_DIR}/windows-deps.sh)
set(quarvel_deps_toolchain ${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
file(READ ${quarvel_deps_script} quarvel_deps_recipe)
file(READ ${quarvel_deps_toolchain} quarvel_deps_toolchain_text)
string(SHA256 quarvel_deps_recipe "${quarvel_deps_recipe}${quarvel_deps_toolchain_text}")
string(SUBSTRING ${quarvel_deps_recipe} 0 16 quarvel_deps_recipe)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${quarvel_deps_script}
                                                                                     ${quarvel_deps_toolchain})

unset(QUARVEL_WINDOWS_DEPS_RECIPE)
if(EXISTS ${QUARVEL_WINDOWS_DEPS_DIR}/deps.cmake)
  include(${QUARVEL_WINDOWS_DEPS_DIR}/deps.cmake)
endif()
if(NOT QUARVEL_WINDOWS_DEPS_RECIPE STREQUAL quarvel_deps_recipe OR NOT EXISTS "${QUARVEL_LIBZIP_PREFIX}/lib/libzip.a"
   OR NOT EXISTS "${QUARVEL_LIBXML2_PREFIX}/lib/libxml2.a")
  message(STATUS "Building libzip and libxml2 for Windows from Debian's sources in ${QUARVEL_WINDOWS_DEPS_DIR}")
  execute_process(COMMAND bash ${quarvel_deps_script} ${QUARVEL_WINDOWS_DEPS_DIR} ${quarvel_deps_toolchain}
                          ${quarvel_deps_recipe} RESULT_VARIABLE quarvel_deps_failed)
  if(quarvel_deps_failed)
    message(FATAL_ERROR "libzip and libxml2 for the Windows build could not be made (see above, and the logs in "
                        "${QUARVEL_WINDOWS_DEPS_DIR}/logs).")
  endif()
  include(${QUARVEL_WINDOWS_DEPS_DIR}/deps.cmake)
endif()

add_library(quarvel_zlib STATIC IMPORTED GLOBAL)
set_target_properties(quarvel_zlib PROPERTIES IMPORTED_LOCATION ${QUARVEL_ZLIB_LIBRARY})

add_library(quarvel::libzip STATIC IMPORTED GLOBAL)
set_target_properties(quarvel::libzip PROPERTIES
  IMPORTED_LOCATION ${QUARVEL_LIBZIP_PREFIX}/lib/libzip.a
  INTERFACE_INCLUDE_DIRECTORIES ${QUARVEL_LIBZIP_PREFIX}/include
  # Without it zip.h declares the functions as imported from a DLL.
  INTERFACE_COMPILE_DEFINITIONS ZIP_STATIC
  INTERFACE_LINK_LIBRARIES "quarvel_zlib;advapi32")

add_library(quarvel::libxml2 STATIC IMPORTED GLOBAL)
set_target_properties(quarvel::libxml2 PROPERTIES
  IMPORTED_LOCATION ${QUARVEL_LIBXML2_PREFIX}/lib/libxml2.a
  INTERFACE_INCLUDE_DIRECTORIES ${QUARVEL_LIBXML2_PREFIX}/include/libxml2
  INTERFACE_COMPILE_DEFINITIONS LIBXML_STATIC)
