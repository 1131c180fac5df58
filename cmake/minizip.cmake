# zlib and minizip 1.1 (contrib/minizip of zlib), unpacked by
# scripts/install.sh from Debian's zlib source package. Every build compiles
# zlib from that source, natively too: the native packer must deflate exactly
# as the Windows builder does, whatever zlib the host carries.
set(ZLIB_DIR ${BOOTSTRAP_DEPS_DIR}/zlib)
if(NOT EXISTS ${ZLIB_DIR}/deflate.c)
  message(FATAL_ERROR "zlib sources missing in ${ZLIB_DIR}: run scripts/install.sh")
endif()
add_library(zlibstatic STATIC
  ${ZLIB_DIR}/adler32.c ${ZLIB_DIR}/compress.c ${ZLIB_DIR}/crc32.c ${ZLIB_DIR}/deflate.c
  ${ZLIB_DIR}/infback.c ${ZLIB_DIR}/inffast.c ${ZLIB_DIR}/inflate.c ${ZLIB_DIR}/inftrees.c
  ${ZLIB_DIR}/trees.c ${ZLIB_DIR}/uncompr.c ${ZLIB_DIR}/zutil.c)
target_include_directories(zlibstatic SYSTEM PUBLIC ${ZLIB_DIR})
target_compile_options(zlibstatic PRIVATE -O2 -fno-strict-aliasing -w)
if(WIN32)
  # Level 9 deflate spends its time matching strings: optimised for speed
  # (the program is built for size), comparing two bytes at a time, which x86
  # allows unaligned. The compressed bytes are the same either way.
  target_compile_definitions(zlibstatic PRIVATE UNALIGNED_OK)
  target_compile_options(zlibstatic PRIVATE -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections)
else()
  # Not our code to check: the sanitizers watch the callers.
  target_compile_options(zlibstatic PRIVATE -fno-sanitize=all)
  target_compile_definitions(zlibstatic PRIVATE HAVE_UNISTD_H)
  # The native packer deflates as the builder does, two bytes at a time where
  # the processor reads them unaligned (about a tenth less time at level 9;
  # the same compressed bytes).
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i[3-6]86|aarch64|arm64)$")
    target_compile_definitions(zlibstatic PRIVATE UNALIGNED_OK)
  endif()
endif()
set(ZLIB_STATIC zlibstatic)
set(ZLIB_INCLUDE ${ZLIB_DIR})
set(MINIZIP_DIR ${BOOTSTRAP_DEPS_DIR}/minizip)
if(NOT EXISTS ${MINIZIP_DIR}/unzip.c)
  message(FATAL_ERROR "minizip sources missing in ${MINIZIP_DIR}: run scripts/install.sh")
endif()
add_library(minizip STATIC ${MINIZIP_DIR}/ioapi.c ${MINIZIP_DIR}/zip.c ${MINIZIP_DIR}/unzip.c)
target_include_directories(minizip SYSTEM PUBLIC ${MINIZIP_DIR} ${ZLIB_INCLUDE})
target_compile_definitions(minizip PUBLIC NOCRYPT NOUNCRYPT)
if(NOT WIN32)
  # off_t is 64 bits wide already; the ...64 stdio names are glibc extensions.
  target_compile_definitions(minizip PRIVATE IOAPI_NO_64)
endif()
target_compile_options(minizip PRIVATE -w -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections)
target_link_libraries(minizip PUBLIC ${ZLIB_STATIC})
