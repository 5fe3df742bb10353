# Common compile settings for every target of the project.

add_library(nalo_options INTERFACE)
target_compile_options(nalo_options INTERFACE -Wall -Wextra)
if(NALO_WARNINGS_AS_ERRORS)
  target_compile_options(nalo_options INTERFACE -Werror)
endif()
# The project root is the include root: "binding/BindingProperty.h".
target_include_directories(nalo_options INTERFACE ${PROJECT_SOURCE_DIR})

if(NALO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
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
