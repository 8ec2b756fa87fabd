# The Windows x64 launcher library, zstd's decoder, and the Windows programs
# the end-to-end tests and the demo run under Wine.
set(ZSTD_DIR "${CMAKE_SOURCE_DIR}/.deps/zstd/lib" CACHE PATH "zstd's lib/ folder (scripts/setup.sh fetches it)")
if(NOT EXISTS "${ZSTD_DIR}/zstd.h")
  message(FATAL_ERROR "zstd sources missing at ${ZSTD_DIR}: run scripts/setup.sh")
endif()
set(WINDOWS_LIB_DIR "${STAGE_DIR}/lib/zembra/windows")

file(GLOB ZSTD_SOURCES "${ZSTD_DIR}/common/*.c" "${ZSTD_DIR}/decompress/*.c"
  "${ZSTD_DIR}/decompress/huf_decompress_amd64.S")
add_library(zstd_decoder STATIC ${ZSTD_SOURCES})
target_include_directories(zstd_decoder PUBLIC "${ZSTD_DIR}")
target_compile_definitions(zstd_decoder PRIVATE ZSTD_MULTITHREAD=0 XXH_NAMESPACE=ZSTD_)
target_compile_options(zstd_decoder PRIVATE -O3)
set_target_properties(zstd_decoder PROPERTIES ARCHIVE_OUTPUT_DIRECTORY "${WINDOWS_LIB_DIR}")

file(GLOB PLATFORM_SOURCES CONFIGURE_DEPENDS src/platform/win32/*.cpp)
add_library(launcher STATIC ${LOGIC_SOURCES} ${COMMAND_LINE_SOURCE} ${PLATFORM_SOURCES})
target_include_directories(launcher PRIVATE src src/platform/win32)
target_compile_options(launcher PRIVATE ${LAUNCHER_CXX_FLAGS} -municode)
target_compile_definitions(launcher PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_libraries(launcher PRIVATE zstd_decoder)
set_target_properties(launcher PROPERTIES ARCHIVE_OUTPUT_DIRECTORY "${WINDOWS_LIB_DIR}")

# Programs that only the tests and the demo use.
file(GLOB WINDOWS_TEST_PROGRAMS CONFIGURE_DEPENDS tests/win/*.c)
foreach(source ${WINDOWS_TEST_PROGRAMS})
  get_filename_component(name "${source}" NAME_WE)
  add_executable(${name} "${source}")
  target_compile_options(${name} PRIVATE -municode -Wall)
  target_link_options(${name} PRIVATE -municode -static)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${STAGE_DIR}/tests/win")
endforeach()

if(EXISTS "${CMAKE_SOURCE_DIR}/examples/CMakeLists.txt")
  add_subdirectory(examples)
endif()
add_subdirectory(bench)
