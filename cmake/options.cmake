# Warnings and house options for the project's own targets (not for GoogleTest).
function(bootstrap_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE NOMINMAX
      _WIN32_WINNT=0x0601)
  endif()
endfunction()

# bootstrap_add_test(name SOURCES a.cpp ... [LIBS lib ...])
# One GoogleTest program, registered with CTest as one test; cross-built
# programs run under Wine through the toolchain's emulator.
function(bootstrap_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  bootstrap_options(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  if(WIN32)
    target_link_options(${name} PRIVATE -mconsole)
  endif()
  add_test(NAME ${name} COMMAND ${name})
endfunction()

# Code that goes into the program: nothing in it throws, and every end user
# downloads it, so it carries no exception tables of its own.
# Every function and object in a section of its own, so that the program's
# link drops what it does not use. C++20: there the library's strings are
# instantiated in the program, member by member as used, instead of taken
# whole (with exception handling and unwind tables) from the static runtime's
# explicit instantiation, which C++17 code is bound to.
function(bootstrap_product_options target)
  target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 20)
endfunction()

# A program the project ships to end users: built like the bare program
# (static runtimes of the win32 thread model, which need no winpthreads) and
# checked by the import test: every function it imports, delay-loaded ones
# included, must be on the Windows XP allowlist (tests/xp-imports.txt).
# DELAYED names the DLLs that must stay delay-loaded.
#   bootstrap_shipped_program(target [DELAYED dll ...])
function(bootstrap_shipped_program target)
  cmake_parse_arguments(P "" "" "DELAYED" ${ARGN})
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/source/leanruntime.cpp)
  bootstrap_product_options(${target})
  target_link_options(${target} PRIVATE -L${BOOTSTRAP_WIN32_RUNTIME_DIR} -s -Wl,--gc-sections)
  # The check holds the program that ships, the 32-bit one; it reads the file
  # only, so it runs on every host (label "static": no Wine needed).
  if(BOOTSTRAP_SHIPPED_BUILD)
    add_test(NAME ${target}_imports
      COMMAND bash ${CMAKE_SOURCE_DIR}/tests/checkimports.sh $<TARGET_FILE:${target}>
        ${CMAKE_SOURCE_DIR}/tests/xp-imports.txt ${P_DELAYED})
    set_tests_properties(${target}_imports PROPERTIES LABELS static)
  endif()
endfunction()
