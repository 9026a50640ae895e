# REBOUNCE_SANITIZE=ON builds every target (libraries, programs, tests) with
# AddressSanitizer and UndefinedBehaviorSanitizer; any report aborts the test.
if(REBOUNCE_SANITIZE)
  if(MSVC)
    message(FATAL_ERROR "REBOUNCE_SANITIZE is for GCC and Clang")
  endif()
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
