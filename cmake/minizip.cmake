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
# minizip's reader opens entries of method 0 and 8 (and 12) only. Entries
# of method 14 (LZMA) are decoded by the entry reader itself: the reader's
# copy admits them past the local-header check and always hands out their
# data as stored (raw), so minizip still finds, bounds and checks the data.
# The copy is made from Debian's file at configure time; a minizip whose
# text differs stops the configure instead of building a reader that would
# refuse every LZMA entry.
file(READ ${MINIZIP_DIR}/unzip.c MINIZIP_UNZIP)
function(minizip_edit from to)
  string(FIND "${MINIZIP_UNZIP}" "${from}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${MINIZIP_DIR}/unzip.c: \"${from}\" not found: this minizip cannot be taught method 14")
  endif()
  string(REPLACE "${from}" "${to}" edited "${MINIZIP_UNZIP}")
  set(MINIZIP_UNZIP "${edited}" PARENT_SCOPE)
endfunction()
minizip_edit("(s->cur_file_info.compression_method!=Z_BZIP2ED) &&"
  "(s->cur_file_info.compression_method!=Z_BZIP2ED) && (s->cur_file_info.compression_method!=14) &&")
minizip_edit("pfile_in_zip_read_info->raw=raw;"
  "pfile_in_zip_read_info->raw=raw || s->cur_file_info.compression_method==14;")
set(MINIZIP_UNZIP_COPY ${CMAKE_BINARY_DIR}/minizip/unzip.c)
set(MINIZIP_UNZIP_OLD "")
if(EXISTS ${MINIZIP_UNZIP_COPY})
  file(READ ${MINIZIP_UNZIP_COPY} MINIZIP_UNZIP_OLD)
endif()
# Written only when it changes: a configure rebuilds nothing otherwise.
if(NOT MINIZIP_UNZIP_OLD STREQUAL MINIZIP_UNZIP)
  file(WRITE ${MINIZIP_UNZIP_COPY} "${MINIZIP_UNZIP}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${MINIZIP_DIR}/unzip.c)

add_library(minizip STATIC ${MINIZIP_DIR}/ioapi.c ${MINIZIP_DIR}/zip.c ${MINIZIP_UNZIP_COPY})
target_include_directories(minizip SYSTEM PUBLIC ${MINIZIP_DIR} ${ZLIB_INCLUDE})
target_compile_definitions(minizip PUBLIC NOCRYPT NOUNCRYPT)
if(NOT WIN32)
  # off_t is 64 bits wide already; the ...64 stdio names are glibc extensions.
  target_compile_definitions(minizip PRIVATE IOAPI_NO_64)
endif()
target_compile_options(minizip PRIVATE -w -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections)
target_link_libraries(minizip PUBLIC ${ZLIB_STATIC})
