# Warnings are errors in every build of our own code (not of third-party sources).
add_library(tixabo_warnings INTERFACE)
if(MSVC)
  target_compile_options(tixabo_warnings INTERFACE /W4 /WX /utf-8)
else()
  target_compile_options(tixabo_warnings INTERFACE -Wall -Wextra -Werror)
endif()
