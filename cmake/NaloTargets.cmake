# Common compile settings for every target of the project.

add_library(nalo_options INTERFACE)
target_compile_options(nalo_options INTERFACE -Wall -Wextra)
if(NALO_WARNINGS_AS_ERRORS)
  target_compile_options(nalo_options INTERFACE -Werror)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # GCC 12 reports -Wrestrict inside the standard library's own string
  # concatenation ("x" + std::string) at -O2; the report is spurious.
  target_compile_options(nalo_options INTERFACE -Wno-restrict)
endif()
# The project root is the include root: "binding/BindingProperty.h".
target_include_directories(nalo_options INTERFACE ${PROJECT_SOURCE_DIR})

if(NALO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # With the sanitizers' instrumentation GCC 12 reports "may be used
    # uninitialized" inside the standard library's own regex code; the
    # warning stays on in every other build.
    target_compile_options(nalo_options INTERFACE -Wno-maybe-uninitialized)
  endif()
endif()

if(NALO_FUZZ)
  # Everything is instrumented for coverage; only the fuzz executables link
  # libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# nalo_library(NAME SOURCES... [DEPENDS libs...])
function(nalo_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC nalo_options ${ARG_DEPENDS})
endfunction()
