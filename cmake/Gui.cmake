# The desktop program: Qt 6 Widgets over the core. Only these targets link Qt.
find_package(Qt6 REQUIRED COMPONENTS Widgets)

add_library(quarvel_gui STATIC
  ${PROJECT_SOURCE_DIR}/app/CDirDialog.cpp
  ${PROJECT_SOURCE_DIR}/app/CquarvelApp.cpp
  ${PROJECT_SOURCE_DIR}/app/CquarvelDlg.cpp
  ${PROJECT_SOURCE_DIR}/app/ProgressWindow.cpp
  ${PROJECT_SOURCE_DIR}/app/QtUser.cpp
  ${PROJECT_SOURCE_DIR}/res/DialogBuilder.cpp
  ${PROJECT_SOURCE_DIR}/settings/CCustomCourse.cpp
)
target_include_directories(quarvel_gui PUBLIC ${PROJECT_SOURCE_DIR})
# Every QString/std::string crossing goes through app/QtText.h.
target_compile_definitions(quarvel_gui PUBLIC QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII)
target_link_libraries(quarvel_gui PUBLIC quarvel_core Qt6::Widgets PRIVATE standard_settings standard_warnings)

add_executable(quarvel ${PROJECT_SOURCE_DIR}/app/quarvel_main.cpp)
target_link_libraries(quarvel PRIVATE quarvel_gui standard_settings standard_warnings)
install(TARGETS quarvel RUNTIME DESTINATION bin)

# The dialog tests live in tests/gui and run without a display. They are
# added once the test set-up of the top-level file has run.
function(quarvel_add_gui_tests)
  if(NOT BUILD_TESTING)
    return()
  endif()
  find_package(GTest REQUIRED)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  file(GLOB gui_test_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/gui/*.cpp)
  add_executable(gui_tests ${gui_test_sources} ${PROJECT_SOURCE_DIR}/tests/support/TestSupport.cpp)
  target_link_libraries(gui_tests PRIVATE quarvel_gui Qt6::Test GTest::gtest standard_settings standard_warnings)
  target_include_directories(gui_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(gui_tests PRIVATE QUARVEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  # One CTest entry per test suite of the program, on a screen the dialogs fit.
  set(screens ${PROJECT_SOURCE_DIR}/tests/gui)
  foreach(suite CCustomCourseTest CDirDialogTest DialogBuilderTest QtUserTest QuarvelProgramTest)
    add_test(NAME gui.${suite} COMMAND gui_tests --gtest_filter=${suite}.*)
    set_tests_properties(gui.${suite} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen:configfile=${screens}/screen-1920x1200.json;TZ=UTC"
      TIMEOUT 120)
  endforeach()
  # The same dialog on a 1600x1000 screen at scale 2, where it does not fit.
  add_test(NAME gui.SmallScreenTest COMMAND gui_tests --gtest_filter=DialogBuilderTest.*)
  set_tests_properties(gui.SmallScreenTest PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen:configfile=${screens}/screen-1600x1000.json;QT_SCALE_FACTOR=2;QUARVEL_EXPECT_SCROLLING=1;TZ=UTC"
    TIMEOUT 120)
endfunction()
cmake_language(DEFER CALL quarvel_add_gui_tests)
