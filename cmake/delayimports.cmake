# DLLs loaded on first use instead of when the program starts.
# GDI+ is not one of the DLLs Windows always loads from its own directory: a
# static import would let a gdiplus.dll placed beside a package be loaded
# before main runs. It is loaded on first use instead, after main has limited
# the DLL search to the system directory.
# OLE serves only the pictures of a window that is shown: a hidden installer
# and the builder never load it (nor the RPC and COM libraries it pulls in).
function(delayimport target library dll)
  find_library(${target}_IMPORT NAMES lib${library}.a REQUIRED)
  set(output ${CMAKE_BINARY_DIR}/lib${library}_delay.a)
  add_custom_command(OUTPUT ${output}
    COMMAND bash ${CMAKE_SOURCE_DIR}/cmake/delaylib.sh ${${target}_IMPORT} ${dll} ${output}
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/delaylib.sh
    VERBATIM)
  add_custom_target(${target}_library DEPENDS ${output})
  add_library(${target} INTERFACE)
  target_link_libraries(${target} INTERFACE ${output})
  add_dependencies(${target} ${target}_library)
endfunction()

delayimport(gdiplusdelay gdiplus gdiplus.dll)
delayimport(ole32delay ole32 ole32.dll)
