# GDI+ is not one of the DLLs Windows always loads from its own directory: a
# static import would let a gdiplus.dll placed beside a package be loaded
# before main runs. It is loaded on first use instead, after main has limited
# the DLL search to the system directory.
find_library(GDIPLUS_IMPORT NAMES libgdiplus.a REQUIRED)
set(GDIPLUS_DELAY ${CMAKE_BINARY_DIR}/libgdiplus_delay.a)
add_custom_command(OUTPUT ${GDIPLUS_DELAY}
  COMMAND ${CMAKE_COMMAND} -E env CROSS_PREFIX=${BOOTSTRAP_CROSS_PREFIX}
    bash ${CMAKE_SOURCE_DIR}/cmake/delaylib.sh ${GDIPLUS_IMPORT} gdiplus.dll ${GDIPLUS_DELAY}
  DEPENDS ${CMAKE_SOURCE_DIR}/cmake/delaylib.sh
  VERBATIM)
add_custom_target(gdiplus_delay_library DEPENDS ${GDIPLUS_DELAY})
add_library(gdiplusdelay INTERFACE)
target_link_libraries(gdiplusdelay INTERFACE ${GDIPLUS_DELAY})
add_dependencies(gdiplusdelay gdiplus_delay_library)
