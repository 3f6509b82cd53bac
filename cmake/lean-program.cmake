# The shipped Windows program and the libraries it is built from: no
# exception or type-information support (the code throws and inspects no
# types, and either would pull the C++ runtime's unwinder, terminate handler
# and demangler into the static program), every function and datum in its own
# section so that the linker can drop what nothing calls. Test programs are
# built outside src/ and keep their defaults.
if(WIN32)
  add_compile_options(-fno-exceptions -fno-rtti -ffunction-sections -fdata-sections)
endif()

# Release builds of the program ship without unused sections and symbols.
function(tixabo_lean_program target)
  if(WIN32)
    target_link_options(${target} PRIVATE -Wl,--gc-sections $<$<CONFIG:Release,MinSizeRel>:-s>)
  endif()
endfunction()
