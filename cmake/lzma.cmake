# LZMA for ZIP entries of method 14. The decoder is the LZMA SDK's (public
# domain: C/LzmaDec.c, about 9 KB in the 32-bit program), unpacked
# by scripts/install.sh from Debian's 7zip source package and built here for
# every target, so the installer and the native inspector, tests and fuzz
# targets run the same decoder. The encoder, in the native packer only, is
# liblzma from Debian's liblzma-dev.
set(LZMA_SDK_DIR ${BOOTSTRAP_DEPS_DIR}/lzma)
if(NOT EXISTS ${LZMA_SDK_DIR}/LzmaDec.c)
  message(FATAL_ERROR "LZMA SDK sources missing in ${LZMA_SDK_DIR}: run scripts/install.sh")
endif()
add_library(lzmadec STATIC ${LZMA_SDK_DIR}/LzmaDec.c)
target_include_directories(lzmadec SYSTEM PUBLIC ${LZMA_SDK_DIR})
# Optimised for size: the decoder's loop is as fast at -Os as at -O2 (40 MB
# of DLLs: 503 against 492 ms), and 2 KB smaller in the 32-bit program.
target_compile_options(lzmadec PRIVATE -Os -w -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections)

if(NOT WIN32)
  find_package(LibLZMA REQUIRED)
endif()
