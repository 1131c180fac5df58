# Cross build of the Windows programs with Debian's mingw-w64, shared by the
# two toolchain files: BOOTSTRAP_MINGW_TRIPLE (i686-w64-mingw32 for the
# shipped 32-bit program, x86_64-w64-mingw32 for the 64-bit test build) and
# BOOTSTRAP_WINE_BITS (the Wine the tests run under) are set before.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${BOOTSTRAP_MINGW_PROCESSOR})
set(BOOTSTRAP_CROSS_PREFIX ${BOOTSTRAP_MINGW_TRIPLE}-)

# The posix thread model: GoogleTest needs std::mutex. The program itself
# uses Win32 threads; the static link keeps it free of extra DLLs.
set(CMAKE_C_COMPILER ${BOOTSTRAP_CROSS_PREFIX}gcc-posix)
set(CMAKE_CXX_COMPILER ${BOOTSTRAP_CROSS_PREFIX}g++-posix)
set(CMAKE_RC_COMPILER ${BOOTSTRAP_CROSS_PREFIX}windres)

# The static C++ runtime of the posix thread model needs winpthreads, which
# imports functions Windows XP lacks. The shipped programs use no C++ thread
# library, so they link the same compiler's runtime of the win32 thread model
# instead (bootstrap_shipped_program in cmake/options.cmake).
execute_process(COMMAND ${BOOTSTRAP_CROSS_PREFIX}g++-win32 -print-libgcc-file-name
  OUTPUT_VARIABLE _win32_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _win32_found)
if(NOT _win32_found EQUAL 0 OR NOT EXISTS "${_win32_libgcc}")
  message(FATAL_ERROR "${BOOTSTRAP_CROSS_PREFIX}g++-win32 is missing: run scripts/install.sh")
endif()
get_filename_component(BOOTSTRAP_WIN32_RUNTIME_DIR "${_win32_libgcc}" DIRECTORY)

set(CMAKE_FIND_ROOT_PATH /usr/${BOOTSTRAP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests run under the project's Wine prefix of the same width.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ${BOOTSTRAP_WINE_BITS})
