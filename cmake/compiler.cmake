# Warnings are errors; floating point is IEEE double everywhere (no x87, no contraction), so eye
# folding gives the same doubles in every build.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wpedantic -Werror -ffp-contract=off)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "i[3-6]86|x86$" OR CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_compile_options(-msse2 -mfpmath=sse)
  endif()
endif()

if(TARVEX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# ThreadSanitizer (clang): the library under several threads at once.  Not with the other
# sanitizers: the two cannot share a process.
if(TARVEX_SANITIZE_THREAD)
  if(TARVEX_SANITIZE)
    message(FATAL_ERROR "TARVEX_SANITIZE_THREAD and TARVEX_SANITIZE cannot be combined")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
