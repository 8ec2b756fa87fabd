# The Windows x64 launcher stub, zstd's decoder, and the Windows programs
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
add_library(launcher_objects OBJECT ${LOGIC_SOURCES} ${COMMAND_LINE_SOURCE} ${PLATFORM_SOURCES})
target_include_directories(launcher_objects PRIVATE src src/platform/win32 "${ZSTD_DIR}")
target_compile_options(launcher_objects PRIVATE ${LAUNCHER_CXX_FLAGS} -municode)
target_compile_definitions(launcher_objects PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)

# The launcher runs on the Universal C runtime. It uses no C++ runtime
# library (the toolchain's is built for msvcrt.dll), so it is compiled with
# the UCRT's headers and linked by the C driver through a copy of the
# toolchain's specs that names the UCRT in place of msvcrt. Its one
# function-local static is first used on the main thread, before the console
# handler exists, so it needs no guard from the C++ runtime.
target_compile_definitions(launcher_objects PRIVATE __MSVCRT_VERSION__=0xE00)
target_compile_options(launcher_objects PRIVATE -fno-threadsafe-statics)
execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpspecs OUTPUT_VARIABLE MINGW_SPECS COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "-lmsvcrt" "-lucrt" UCRT_SPECS "${MINGW_SPECS}")
if(UCRT_SPECS STREQUAL MINGW_SPECS)
  message(FATAL_ERROR "the toolchain's specs do not name -lmsvcrt: cannot switch the launcher to the UCRT")
endif()
file(WRITE "${CMAKE_BINARY_DIR}/ucrt.specs" "${UCRT_SPECS}")

# The stub every Windows launcher is written from: the whole launcher with an
# empty descriptor, no attached data and no resources (the packer adds them).
add_executable(windows_stub $<TARGET_OBJECTS:launcher_objects>)
target_link_options(windows_stub PRIVATE -municode -mwindows -static -s
  # No time stamp: the same sources give the same stub, and so the same launchers.
  -Wl,--no-insert-timestamp
  # 16 MiB of stack reserved for the main thread, 4 KiB committed.
  "SHELL:-Xlinker --stack -Xlinker 16777216,4096" -Wl,--heap,1048576
  -Wl,--major-subsystem-version,6 -Wl,--minor-subsystem-version,0
  -Wl,--major-os-version,6 -Wl,--minor-os-version,0
  -Wl,--tsaware -Wl,--high-entropy-va -Wl,--dynamicbase -Wl,--nxcompat
  # Sections start on page boundaries in the file too, so a loader can map
  # the attached data in place instead of copying tens of megabytes into
  # private memory at every start (Wine does the latter for 512-byte alignment).
  -Wl,--file-alignment,4096)
target_link_options(windows_stub PRIVATE "-specs=${CMAKE_BINARY_DIR}/ucrt.specs")
include(cmake/deflate_crc32.cmake)
target_include_directories(launcher_objects PRIVATE "${LIBDEFLATE_DIR}")
target_link_libraries(windows_stub PRIVATE zstd_decoder deflate_crc32 shell32)
set_target_properties(windows_stub PROPERTIES LINKER_LANGUAGE C OUTPUT_NAME windows-x64 SUFFIX .exe
  RUNTIME_OUTPUT_DIRECTORY "${STAGE_DIR}/lib/zembra/stubs")

# Programs that only the tests and the demo use.
file(GLOB WINDOWS_TEST_PROGRAMS CONFIGURE_DEPENDS tests/win/*.c)
foreach(source ${WINDOWS_TEST_PROGRAMS})
  get_filename_component(name "${source}" NAME_WE)
  add_executable(${name} "${source}")
  target_compile_options(${name} PRIVATE -municode -Wall)
  target_link_options(${name} PRIVATE -municode -static)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${STAGE_DIR}/tests/win")
endforeach()

# The packer as a Windows console program, zembra.exe, beside the Linux one
# in ${STAGE_DIR}/bin, with the same stubs and data files.
add_subdirectory(packer)
add_custom_target(stage_resources ALL
  COMMAND ${CMAKE_COMMAND} -E copy_if_different "${CMAKE_SOURCE_DIR}/res/launcher.manifest"
    "${STAGE_DIR}/share/zembra/res/launcher.manifest"
  COMMAND ${CMAKE_COMMAND} -E copy_directory "${CMAKE_SOURCE_DIR}/res/icons" "${STAGE_DIR}/share/zembra/res/icons"
  COMMENT "Staging the launcher resources")

# The Win32 platform code under faults put in its way through its table of
# system calls; tests/e2e/test_system_faults.py runs it under Wine.
add_executable(system_faults tests/win/system_faults.cpp src/platform/win32/files.cpp
  src/platform/win32/read_file.cpp src/platform/win32/process.cpp src/platform/win32/lock.cpp
  src/platform/win32/threads.cpp src/platform/win32/errors.cpp src/platform/win32/system_calls.cpp)
target_include_directories(system_faults PRIVATE src src/platform/win32)
target_compile_options(system_faults PRIVATE -municode -Wall -Wextra -fno-exceptions -fno-rtti)
target_compile_definitions(system_faults PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_options(system_faults PRIVATE -municode -static)
target_link_libraries(system_faults PRIVATE shell32)
set_target_properties(system_faults PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${STAGE_DIR}/tests/win")

if(EXISTS "${CMAKE_SOURCE_DIR}/examples/CMakeLists.txt")
  add_subdirectory(examples)
endif()
add_subdirectory(bench)
