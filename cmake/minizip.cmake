# minizip 1.1 (contrib/minizip of zlib), unpacked by scripts/install.sh from
# Debian's zlib source package, over the mingw build of zlib (natively: over
# Debian's zlib1g-dev, for the package inspector).
find_library(ZLIB_STATIC NAMES libz.a REQUIRED)
find_path(ZLIB_INCLUDE zlib.h REQUIRED)
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
