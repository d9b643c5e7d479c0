# Build helpers shared by every folder of the tree.

# Warnings as errors on every target of ours.
set(TOVREL_WARNINGS -Wall -Wextra -Wpedantic -Werror -Wno-unused-parameter)
# GCC 12 reports std::string copies as overlapping at -O3 (a false positive of its
# restrict analysis, GCC bug 105329).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
  list(APPEND TOVREL_WARNINGS -Wno-restrict)
endif()

if(TOVREL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(TOVREL_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

function(tovrel_warnings target)
  target_compile_options(${target} PRIVATE ${TOVREL_WARNINGS})
endfunction()

# tovrel_add_module(NAME SOURCES src... RC file.rc DEF file.def [LIBS lib...])
# One plug-in module: a shared library that exports the host interface by its exact names.
# On native the module carries its dialog script and its export ordinals as data, which the
# portable platform reads; on win32 windres compiles the script and the .def fixes the ordinals.
function(tovrel_add_module name)
  cmake_parse_arguments(M "" "RC;DEF" "SOURCES;LIBS" ${ARGN})
  set(rc ${CMAKE_CURRENT_SOURCE_DIR}/${M_RC})
  set(def ${CMAKE_CURRENT_SOURCE_DIR}/${M_DEF})
  if(WIN32)
    # A DLL that stands alone: the C and C++ runtimes linked in, stdcall exports under the
    # undecorated names of the .def (which also fixes the ordinals), dialogs from the .rc.
    add_library(${name} SHARED ${M_SOURCES} ${rc} ${def})
    set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/modules
      ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/implib)
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++
      -Wl,--enable-stdcall-fixup -Wl,--kill-at)
    install(TARGETS ${name} RUNTIME DESTINATION modules)
  else()
    set(gen ${CMAKE_CURRENT_BINARY_DIR}/${name}_embedded.cpp)
    add_custom_command(OUTPUT ${gen}
      COMMAND ${CMAKE_COMMAND} -DRC=${rc} -DDEF=${def} -DOUT=${gen} -P ${TOVREL_CMAKE_DIR}/EmbedModuleData.cmake
      DEPENDS ${rc} ${def} ${TOVREL_CMAKE_DIR}/EmbedModuleData.cmake
      COMMENT "Embedding dialog script and export ordinals of ${name}")
    add_library(${name} SHARED ${M_SOURCES} ${gen})
    set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
      CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/modules
      INSTALL_RPATH "$ORIGIN/../..")
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
    install(TARGETS ${name} LIBRARY DESTINATION lib/tovrel/modules)
  endif()
  target_link_libraries(${name} PRIVATE tovrel_frame ${M_LIBS})
  tovrel_warnings(${name})
  # The export and dialog tests of the win32 target read the module's .def and .rc.
  set_target_properties(${name} PROPERTIES TOVREL_DEF ${def} TOVREL_RC ${rc})
  set_property(GLOBAL APPEND PROPERTY TOVREL_MODULES ${name})
endfunction()

# tovrel_add_test(NAME SOURCES src... [LIBS lib...] [MODULES module...] [PROGRAMS target...]
#                  [LABELS label...])
# MODULES names the plug-in modules the test loads and PROGRAMS the executables it runs: the
# test depends on them, so building the test rebuilds them, and the test host refuses to load
# a module the target did not declare (compiled in as TOVREL_TEST_MODULES), so no test runs a
# stale module.
function(tovrel_add_test name)
  if(NOT TOVREL_BUILD_TESTS OR WIN32)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;MODULES;PROGRAMS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  tovrel_warnings(${name})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(T_MODULES OR T_PROGRAMS)
    add_dependencies(${name} ${T_MODULES} ${T_PROGRAMS})
  endif()
  string(REPLACE ";" "," declared "${T_MODULES}")
  target_compile_definitions(${name} PRIVATE "TOVREL_TEST_MODULES=\"${declared}\"")
  # Tests find the modules in TOVREL_BUILD_DIR/modules (one variable: a list would split here).
  set(props ENVIRONMENT "TOVREL_BUILD_DIR=${CMAKE_BINARY_DIR}")
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
endfunction()

set(TOVREL_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "")
