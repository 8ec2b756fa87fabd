# libdeflate's CRC-32 alone, built from its pinned sources (scripts/setup.sh
# fetches them): for the Windows launcher, which Debian has no MinGW build of
# libdeflate for, and for the fuzz tree, which checks its reads under the
# sanitizers. The native tree links Debian's libdeflate-dev instead.
set(LIBDEFLATE_DIR "${CMAKE_CURRENT_LIST_DIR}/../.deps/libdeflate" CACHE PATH
  "libdeflate's source folder (scripts/setup.sh fetches it)")
if(NOT EXISTS "${LIBDEFLATE_DIR}/libdeflate.h")
  message(FATAL_ERROR "libdeflate sources missing at ${LIBDEFLATE_DIR}: run scripts/setup.sh")
endif()
# crc32.c picks the processor's carry-less multiply at run time through
# cpu_features.c; nothing else of the library is needed.
add_library(deflate_crc32 STATIC "${LIBDEFLATE_DIR}/lib/crc32.c" "${LIBDEFLATE_DIR}/lib/x86/cpu_features.c")
target_include_directories(deflate_crc32 PUBLIC "${LIBDEFLATE_DIR}")
target_compile_options(deflate_crc32 PRIVATE -O2)
