# The usual hardening of a program that parses untrusted files:
#   -D_FORTIFY_SOURCE=2      checked variants of the libc calls whose buffer
#                            sizes the compiler knows (optimised builds only:
#                            glibc wants optimisation for it)
#   -fstack-protector-strong canaries in functions with arrays or addresses taken
#   -Wl,-z,relro,-z,now      relocations resolved at start, then made read-only
#   PIE                      the program loaded at a random address
# and, where the compiler has them (gcc and clang for x86-64 do), those that
# hardening-check also looks for:
#   -fstack-clash-protection stack growth probed page by page
#   -fcf-protection          x86 control-flow enforcement (CET) markers; in
#                            force only where the C library's start files carry
#                            them too (not on Debian 12, whose do not)
# On by default for Linux (ELF) builds, so the test suite and the benchmarks run
# the program as it is packaged; the release presets, which make the packages,
# ask for it explicitly. Off by default where CMAKE_CXX_FLAGS bring sanitizers
# (the asan and fuzz presets): _FORTIFY_SOURCE's checked calls get in the way of
# their own instrumentation. The mingw-w64 build for Windows is left as it is.
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=")
  set(hardening_default OFF)
else()
  set(hardening_default ON)
endif()
option(D88_HARDENING
  "Build with _FORTIFY_SOURCE, stack protector, full RELRO and PIE (Linux)"
  ${hardening_default})

if(D88_HARDENING AND NOT WIN32)
  if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=")
    message(FATAL_ERROR "D88_HARDENING is meant for builds without sanitizers")
  endif()
  include(CheckPIESupported)
  check_pie_supported(OUTPUT_VARIABLE pie_output LANGUAGES CXX)
  if(NOT CMAKE_CXX_LINK_PIE_SUPPORTED)
    message(FATAL_ERROR "D88_HARDENING: the linker cannot make a PIE:\n${pie_output}")
  endif()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  # -U first: some compilers define _FORTIFY_SOURCE themselves, and a second
  # definition would be a warning (an error with D88_WERROR).
  add_compile_options(
    "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>"
    -fstack-protector-strong)
  include(CheckCXXCompilerFlag)
  check_cxx_compiler_flag(-fstack-clash-protection D88_HAVE_STACK_CLASH_PROTECTION)
  if(D88_HAVE_STACK_CLASH_PROTECTION)
    add_compile_options(-fstack-clash-protection)
  endif()
  check_cxx_compiler_flag(-fcf-protection D88_HAVE_CF_PROTECTION)
  if(D88_HAVE_CF_PROTECTION)
    add_compile_options(-fcf-protection)
  endif()
  add_link_options(-Wl,-z,relro,-z,now)
endif()
