# Installs the sample installation beside the programs and records its folder
# in the install folder store, as an installer records the install folder.
#
#   <prefix>/share/quarvel/install          template folder web, exit button images,
#                                           catalogues, spreadsheet export
#   <prefix>/share/quarvel/sample-courses   course bundles to try a run on
#   <prefix>/share/quarvel/sample-videos    videos (placeholders) for the VOD job
#
# The store is $QUARVEL_CONFIG at install time, else /etc/quarvel.conf (below
# DESTDIR when one is given). Its "NB Path" line is replaced or added; every
# other line stays.
set(QUARVEL_SAMPLE_DIR ${PROJECT_SOURCE_DIR}/sample)
set(QUARVEL_INSTALL_FOLDER share/quarvel/install)

install(DIRECTORY ${QUARVEL_SAMPLE_DIR}/install/ DESTINATION ${QUARVEL_INSTALL_FOLDER})
install(DIRECTORY ${QUARVEL_SAMPLE_DIR}/courses/ DESTINATION share/quarvel/sample-courses)
install(DIRECTORY ${QUARVEL_SAMPLE_DIR}/videos/ DESTINATION share/quarvel/sample-videos)

install(CODE "set(quarvel_install_folder ${QUARVEL_INSTALL_FOLDER})")
install(CODE [[
  set(folder "${CMAKE_INSTALL_PREFIX}/${quarvel_install_folder}")
  if(DEFINED ENV{QUARVEL_CONFIG} AND NOT "$ENV{QUARVEL_CONFIG}" STREQUAL "")
    set(store "$ENV{QUARVEL_CONFIG}")
  else()
    set(store "$ENV{DESTDIR}/etc/quarvel.conf")
  endif()
  set(content "")
  if(EXISTS "${store}")
    file(READ "${store}" content)
  endif()
  # Work on whole lines: a leading line end lets the first line match too.
  set(content "\n${content}")
  if(NOT content MATCHES "\n$")
    string(APPEND content "\n")
  endif()
  if(content MATCHES "\n[ \t]*NB Path[ \t]*=[^\n]*")
    string(REGEX REPLACE "\n[ \t]*NB Path[ \t]*=[^\n]*" "\nNB Path=${folder}" content "${content}")
  else()
    string(APPEND content "NB Path=${folder}\n")
  endif()
  string(SUBSTRING "${content}" 1 -1 content)
  get_filename_component(store_dir "${store}" DIRECTORY)
  file(MAKE_DIRECTORY "${store_dir}")
  file(WRITE "${store}" "${content}")
  message(STATUS "Install folder recorded: NB Path=${folder} in ${store}")
]])
