# Shared compile settings for the project's own targets.

# Warnings apply to our code only; third-party headers come in as SYSTEM includes. A name that
# shadows another is a warning too, so an error with ORLUNE_WERROR.
add_library(orlune_warnings INTERFACE)
target_compile_options(orlune_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow)
if(ORLUNE_WERROR)
  target_compile_options(orlune_warnings INTERFACE -Werror)
endif()

if(ORLUNE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# The platform this build is for. A facility's platform side is a file with the platform as its
# suffix (native_paths_linux.cpp, route_interface_macos.cpp); a module lists it once as
# <stem>_${ORLUNE_PLATFORM}.cpp, and nothing in the shared code asks which platform it is.
if(APPLE)
  set(ORLUNE_PLATFORM macos)
else()
  set(ORLUNE_PLATFORM linux)
endif()

# orlune_module_root(OUT MODULE_DIR)
# Each module is its own include root: <build>/modules/<tree>/<module>/<module> links to the
# module's folder, so "<module>/<file>.h" compiles only in targets that link the module (or in
# the module itself). An include of a module nobody declared fails to compile.
function(orlune_module_root out module_dir)
  get_filename_component(module ${module_dir} NAME)
  get_filename_component(tree ${module_dir} DIRECTORY)
  get_filename_component(tree ${tree} NAME)
  set(root ${PROJECT_BINARY_DIR}/modules/${tree}/${module})
  if(NOT IS_SYMLINK ${root}/${module})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${module_dir} ${root}/${module} SYMBOLIC)
  endif()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

# orlune_library(NAME SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# One static library per module (a module may hold more than one); its include root is the
# module's own, so code includes "control/native_wire.h", "engine/transport_observation.h" and
# the like, each from a module it links.
function(orlune_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  orlune_module_root(root ${CMAKE_CURRENT_SOURCE_DIR})
  target_include_directories(${name} PUBLIC ${root})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE orlune_warnings ${ARG_PRIVATE_LIBS})
endfunction()

# orlune_test(NAME SOURCES ... LIBS ... [TIMEOUT seconds] [LABELS ...])
# One GoogleTest executable registered with CTest as a single test, so ctest's summary
# counts test programs and the gtest output lists the cases.
function(orlune_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main orlune_warnings)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "unit;${ARG_LABELS}")
endfunction()
