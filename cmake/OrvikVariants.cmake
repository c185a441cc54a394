# Helpers for the native (x64) and, where g++-multilib is installed, the
# 32-bit (x86) builds of the stand-in host and the plug-in libraries.
include(CheckCXXSourceCompiles)

if(ORVIK_BUILD_ALL_VARIANTS AND NOT ORVIK_SANITIZE)
  set(CMAKE_REQUIRED_FLAGS "-m32")
  set(CMAKE_REQUIRED_LINK_OPTIONS "-m32")
  check_cxx_source_compiles("#include <string>\n#include <map>\nint main(){std::map<int,std::string> m; m[1]=\"x\"; return (int)m.size()-1;}" ORVIK_HAVE_X86)
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
else()
  set(ORVIK_HAVE_X86 OFF)
endif()
if(ORVIK_ARCH STREQUAL "x86" AND NOT ORVIK_HAVE_X86)
  message(FATAL_ERROR "ORVIK_ARCH=x86 needs g++-multilib (apt-get install g++-multilib)")
endif()

# orvik_arch_flags(target arch): compile and link flags of an architecture.
function(orvik_arch_flags target arch)
  if(arch STREQUAL "x86")
    target_compile_options(${target} PRIVATE -m32)
    target_link_options(${target} PRIVATE -m32)
  endif()
endfunction()

# Suffix of target names for an architecture: "" for x64, "_x86" for x86.
function(orvik_arch_suffix arch out)
  if(arch STREQUAL "x86")
    set(${out} "_x86" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

set(ORVIK_ARCHES x64)
if(ORVIK_HAVE_X86)
  list(APPEND ORVIK_ARCHES x86)
endif()
