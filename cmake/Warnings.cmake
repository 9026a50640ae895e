# One warning level for every target of the project.
add_library(rebounce_warnings INTERFACE)
if(MSVC)
  target_compile_options(rebounce_warnings INTERFACE /W4 /permissive-)
else()
  target_compile_options(rebounce_warnings INTERFACE -Wall -Wextra -Wpedantic)
endif()
