# Fails when a source file includes a layer it may not use. The layers, in order:
#   platform -> frame -> the subsystems (sequence, sweep, acoustic, filterdesign, convolution,
#   liveconvolver, timfile) -> host -> the fronts (cli, win32).
# A file may include its own folder and the layers before it, with one exception: the
# subsystems are seen by nobody else. Each is a set of modules that the host reaches only
# through the binary interface, so neither another subsystem nor the host nor a front
# includes one. Tests, benchmarks and fuzz targets sit beside the code they drive and may
# use the host to do it; they are not checked.
#
#   cmake -DROOT=<source tree> -P CheckLayers.cmake
cmake_minimum_required(VERSION 3.25)
set(subsystems sequence sweep acoustic filterdesign convolution liveconvolver timfile)
function(layer_rank folder out)
  if(folder STREQUAL "platform")
    set(${out} 0 PARENT_SCOPE)
  elseif(folder STREQUAL "frame")
    set(${out} 1 PARENT_SCOPE)
  elseif(folder IN_LIST subsystems)
    set(${out} 2 PARENT_SCOPE)
  elseif(folder STREQUAL "host")
    set(${out} 3 PARENT_SCOPE)
  elseif(folder STREQUAL "cli" OR folder STREQUAL "win32")
    set(${out} 4 PARENT_SCOPE)
  else()
    set(${out} -1 PARENT_SCOPE)
  endif()
endfunction()

# Known exceptions, each a file and the folder it may use besides its layers: the CLI
# turns the acoustic report's text into JSON with the parser that is tested as the
# inverse of the module's own text builder.
set(exceptions "cli/report_acoustic.cpp:acoustic")

set(violations "")
set(checked 0)
foreach(folder platform frame ${subsystems} host cli win32)
  file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  layer_rank(${folder} own)
  foreach(source IN LISTS sources)
    if(source MATCHES "(^|/)tests/")
      continue()
    endif()
    math(EXPR checked "${checked} + 1")
    file(STRINGS ${ROOT}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" target "${line}")
      if(NOT target MATCHES "/")
        continue()  # a file of the same folder
      endif()
      string(REGEX REPLACE "/.*" "" to "${target}")
      if(to STREQUAL folder)
        continue()
      endif()
      layer_rank(${to} rank)
      if(rank EQUAL -1)
        continue()  # not a folder of the tree (generated or system)
      endif()
      if("${source}:${to}" IN_LIST exceptions)
        continue()
      endif()
      if(NOT rank LESS own OR rank EQUAL 2)
        string(APPEND violations "  ${source} includes \"${target}\" (${folder} may not use ${to})\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Includes that break the layering:\n${violations}")
endif()
message(STATUS "Layering holds in ${checked} files")
