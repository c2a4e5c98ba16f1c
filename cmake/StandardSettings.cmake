# Two interface targets every target links privately: language settings and warnings.
add_library(standard_settings INTERFACE)
target_compile_features(standard_settings INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_definitions(standard_settings INTERFACE $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)
if(WIN32)
  # Wide-character Win32 calls only; Windows 7 and later.
  target_compile_definitions(standard_settings INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                         _WIN32_WINNT=0x0601)
endif()
if(QUARVEL_SANITIZE)
  target_compile_options(standard_settings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(standard_settings INTERFACE -fsanitize=address,undefined)
endif()

if(QUARVEL_FUZZ)
  # Coverage for libFuzzer in every library; the fuzz programs add the fuzzer main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

add_library(standard_warnings INTERFACE)
target_compile_options(standard_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
  $<$<BOOL:${QUARVEL_WARNINGS_AS_ERRORS}>:-Werror>)

if(QUARVEL_CLANG_TIDY)
  find_program(CLANG_TIDY_PROGRAM clang-tidy REQUIRED)
  set(CMAKE_CXX_CLANG_TIDY ${CLANG_TIDY_PROGRAM}
      -checks=-*,bugprone-*,performance-*,-bugprone-easily-swappable-parameters)
endif()
