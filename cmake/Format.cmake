# `format` rewrites every C++ source of the project with its .clang-format;
# `check-format` fails when a file is not formatted (CI runs it).
find_program(QUARVEL_CLANG_FORMAT NAMES clang-format-14 clang-format)
if(QUARVEL_CLANG_FORMAT)
  set(format_globs *.cpp *.h)
  add_custom_target(format
    COMMAND git ls-files -z -- ${format_globs} | xargs -0 ${QUARVEL_CLANG_FORMAT} -i
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Formatting the sources"
    VERBATIM)
  add_custom_target(check-format
    COMMAND git ls-files -z -- ${format_globs} | xargs -0 ${QUARVEL_CLANG_FORMAT} --dry-run --Werror
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Checking the formatting of the sources"
    VERBATIM)
endif()
