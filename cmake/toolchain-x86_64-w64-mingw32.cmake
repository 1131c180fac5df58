# The same sources for 64-bit Windows: the tests' build on hosts that run
# 64-bit programs only, under 64-bit Wine. Never shipped.
set(BOOTSTRAP_MINGW_TRIPLE x86_64-w64-mingw32)
set(BOOTSTRAP_MINGW_PROCESSOR x86_64)
set(BOOTSTRAP_WINE_BITS 64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
