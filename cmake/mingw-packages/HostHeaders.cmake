# Header-only libraries installed for the build machine serve the Windows
# target too, but their own package files put all of /usr/include on the
# include path, where the target's compiler would pick up glibc's headers.
# This exposes just the library's folder through a private include root.
function(rebounce_host_header_library target folder)
  if(TARGET ${target})
    return()
  endif()
  set(root ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${root})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK /usr/include/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE IMPORTED)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${root})
endfunction()
