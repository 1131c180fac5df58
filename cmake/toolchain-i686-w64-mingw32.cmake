# The shipped program: 32-bit Windows, tests under 32-bit Wine.
set(BOOTSTRAP_MINGW_TRIPLE i686-w64-mingw32)
set(BOOTSTRAP_MINGW_PROCESSOR i686)
set(BOOTSTRAP_WINE_BITS 32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
