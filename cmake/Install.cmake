# Installs the programs' companions and the sample installation, and records
# the install folder in the store, as an installer records the install folder.
#
#   <prefix>/share/quarvel/install          template folder web, exit button images,
#                                           catalogues, spreadsheet export, and the
#                                           schemas (with their licences) that
#                                           validatePackages checks against
#   <prefix>/share/quarvel/sample-courses   course bundles to try a run on
#   <prefix>/share/quarvel/sample-videos    videos (placeholders) for the VOD job
#   <prefix>/share/applications/quarvel.desktop, <prefix>/share/icons/hicolor/*/apps/quarvel.*
#   <prefix>/share/man/man1/quarvel.1, quarvel-batch.1
#   <prefix>/share/doc/quarvel/README.md, copyright
#
# The store written at install time is the first of:
#   $QUARVEL_CONFIG                                  when set;
#   $DESTDIR/etc/quarvel.conf                        when DESTDIR is set (a package build);
#   ${XDG_CONFIG_HOME:-~/.config}/quarvel/quarvel.conf  when the prefix lies in the home folder
#                                                    (--prefix ~/.local needs no root);
#   /etc/quarvel.conf                                otherwise (a system-wide install).
# Its first "NB Path" line is replaced or added; every other byte stays. A
# store that exists but cannot be read stops the install rather than being replaced.
#
# The programs are installed stripped of their symbols and debugging sections
# (the build keeps them for debugging and the crash tests): a tenth of the
# size. A package build that splits the debugging sections off itself
# configures with -DQUARVEL_INSTALL_STRIP=OFF.
include(GNUInstallDirs)

option(QUARVEL_INSTALL_STRIP "Install the programs stripped" ON)

set(QUARVEL_SAMPLE_DIR ${PROJECT_SOURCE_DIR}/sample)
set(QUARVEL_INSTALL_FOLDER ${CMAKE_INSTALL_DATADIR}/quarvel/install)

install(DIRECTORY ${QUARVEL_SAMPLE_DIR}/install/ DESTINATION ${QUARVEL_INSTALL_FOLDER})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/res/schemas/ DESTINATION ${QUARVEL_INSTALL_FOLDER}/schemas
        PATTERN .gitattributes EXCLUDE)
install(DIRECTORY ${QUARVEL_SAMPLE_DIR}/courses/ DESTINATION ${CMAKE_INSTALL_DATADIR}/quarvel/sample-courses)
install(DIRECTORY ${QUARVEL_SAMPLE_DIR}/videos/ DESTINATION ${CMAKE_INSTALL_DATADIR}/quarvel/sample-videos)

# Desktop integration, with the desktop program (a build without the GUI
# installs the batch program alone).
if(TARGET quarvel)
  # The launcher names the program by its installed path, so that it starts
  # whether or not <prefix>/bin is on the desktop session's PATH.
  install(CODE "set(quarvel_desktop_source \"${PROJECT_SOURCE_DIR}/res/quarvel.desktop\")
                set(quarvel_datadir \"${CMAKE_INSTALL_DATADIR}\")
                set(quarvel_bindir \"${CMAKE_INSTALL_BINDIR}\")")
  install(CODE [[
  # (Install code runs at install time: the prefix may be given only then.)
  file(READ "${quarvel_desktop_source}" desktop)
  set(program "${CMAKE_INSTALL_PREFIX}/${quarvel_bindir}/quarvel")
  # A path that would need quoting in the launcher is left to PATH.
  if(NOT program MATCHES "[^-A-Za-z0-9_./+]")
    string(REGEX REPLACE "\nExec=quarvel" "\nExec=${program}" desktop "${desktop}")
  endif()
  set(launcher "${CMAKE_INSTALL_PREFIX}/${quarvel_datadir}/applications/quarvel.desktop")
  message(STATUS "Installing: $ENV{DESTDIR}${launcher}")
  file(WRITE "$ENV{DESTDIR}${launcher}" "${desktop}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${launcher}")
]])
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/quarvel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  file(GLOB QUARVEL_ICON_SIZES RELATIVE ${PROJECT_SOURCE_DIR}/res/icons/hicolor
       ${PROJECT_SOURCE_DIR}/res/icons/hicolor/*)
  foreach(size ${QUARVEL_ICON_SIZES})
    install(FILES ${PROJECT_SOURCE_DIR}/res/icons/hicolor/${size}/quarvel.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}/apps)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/docs/quarvel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/quarvel-batch.1)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/quarvel-batch.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quarvel)

# The programs' install rules ran before these (their folders come first);
# `cmake --install --strip` strips them itself.
if(QUARVEL_INSTALL_STRIP)
  if(NOT CMAKE_STRIP)
    message(FATAL_ERROR "No strip program found; install binutils, or configure with -DQUARVEL_INSTALL_STRIP=OFF.")
  endif()
  set(quarvel_programs "$<TARGET_FILE_NAME:quarvel-batch>")
  if(TARGET quarvel)
    list(APPEND quarvel_programs "$<TARGET_FILE_NAME:quarvel>")
  endif()
  install(CODE "set(quarvel_strip \"${CMAKE_STRIP}\")
                set(quarvel_programs \"${quarvel_programs}\")")
  install(CODE [[
  if(NOT CMAKE_INSTALL_DO_STRIP)
    foreach(program IN LISTS quarvel_programs)
      set(file "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin/${program}")
      message(STATUS "Stripping: ${file}")
      execute_process(COMMAND "${quarvel_strip}" "${file}" RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR "'${file}' could not be stripped.")
      endif()
    endforeach()
  endif()
]])
endif()

# The store is written by the programs' own rules; every build of the batch
# program builds the recorder, so an install after the README's command works.
add_executable(quarvel-record-install-folder ${PROJECT_SOURCE_DIR}/tools/record_install_folder.cpp)
target_link_libraries(quarvel-record-install-folder PRIVATE quarvel_core standard_settings standard_warnings)
set_target_properties(quarvel-record-install-folder PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
add_dependencies(quarvel-batch quarvel-record-install-folder)

install(CODE "set(quarvel_install_folder \"${QUARVEL_INSTALL_FOLDER}\")
              set(quarvel_recorder \"$<TARGET_FILE:quarvel-record-install-folder>\")")
install(CODE [[
  set(folder "${CMAKE_INSTALL_PREFIX}/${quarvel_install_folder}")
  set(home "$ENV{HOME}")
  string(FIND "${CMAKE_INSTALL_PREFIX}/" "${home}/" prefix_in_home)
  if(DEFINED ENV{QUARVEL_CONFIG} AND NOT "$ENV{QUARVEL_CONFIG}" STREQUAL "")
    set(store "$ENV{QUARVEL_CONFIG}")
  elseif(DEFINED ENV{DESTDIR} AND NOT "$ENV{DESTDIR}" STREQUAL "")
    set(store "$ENV{DESTDIR}/etc/quarvel.conf")
  elseif(home MATCHES "^/." AND prefix_in_home EQUAL 0)
    if("$ENV{XDG_CONFIG_HOME}" MATCHES "^/")
      set(store "$ENV{XDG_CONFIG_HOME}/quarvel/quarvel.conf")
    else()
      set(store "${home}/.config/quarvel/quarvel.conf")
    endif()
  else()
    set(store "/etc/quarvel.conf")
  endif()
  execute_process(COMMAND "${quarvel_recorder}" "${store}" "${folder}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "The install folder was not recorded; '${store}' was left as it was.")
  endif()
  message(STATUS "Install folder recorded: NB Path=${folder} in ${store}")
]])
