# Unit tests: the logic built in Windows terms (separators, error numbers, the
# child's command line) over the fake platform, one GoogleTest program per
# tests/unit/test_*.cpp. End-to-end tests: Python scripts in tests/e2e that
# pack real launchers and run them under Wine.
find_package(GTest REQUIRED)

file(GLOB FAKE_SOURCES CONFIGURE_DEPENDS tests/fake/*.cpp)
add_library(fake_platform STATIC ${FAKE_SOURCES})
target_include_directories(fake_platform PUBLIC src src/platform/win32 tests/fake)

add_library(launcher_logic_for_tests STATIC ${LOGIC_SOURCES} ${COMMAND_LINE_SOURCE})
target_compile_options(launcher_logic_for_tests PRIVATE -Wall -Wextra)
target_link_libraries(launcher_logic_for_tests PUBLIC fake_platform ${ZSTD_STATIC} ${LIBDEFLATE_STATIC} ZLIB::ZLIB pthread)

file(GLOB UNIT_TESTS CONFIGURE_DEPENDS tests/unit/test_*.cpp)
foreach(source ${UNIT_TESTS})
  get_filename_component(name "${source}" NAME_WE)
  add_executable(${name} "${source}")
  target_include_directories(${name} PRIVATE tests/unit packer)
  target_link_libraries(${name} PRIVATE launcher_logic_for_tests GTest::gtest_main)
  gtest_discover_tests(${name} PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)
endforeach()
# It counts the decoders the launcher creates and the frames it decodes.
target_link_options(test_indexed_unpack PRIVATE -Wl,--wrap=ZSTD_createDCtx_advanced -Wl,--wrap=ZSTD_decompressStream)

# The POSIX platform layer against real processes and files, without the
# fake and without the launcher's logic.
add_executable(test_posix_process tests/posix/test_process.cpp tests/fake/isolated.cpp
  src/platform/posix/process.cpp src/platform/posix/system_calls.cpp src/platform/posix/convert.cpp
  src/platform/posix/errors.cpp src/text/utf16.cpp)
target_include_directories(test_posix_process PRIVATE src src/platform/posix tests/fake)
target_link_libraries(test_posix_process PRIVATE GTest::gtest_main pthread)
gtest_discover_tests(test_posix_process PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)

add_executable(test_posix_files tests/posix/test_files.cpp
  src/platform/posix/files.cpp src/platform/posix/read_file.cpp src/platform/posix/system_calls.cpp
  src/platform/posix/convert.cpp src/platform/posix/errors.cpp src/text/utf16.cpp)
target_include_directories(test_posix_files PRIVATE src src/platform/posix tests/fake)
target_link_libraries(test_posix_files PRIVATE GTest::gtest_main)
gtest_discover_tests(test_posix_files PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)

add_executable(test_posix_lock tests/posix/test_lock.cpp
  src/platform/posix/lock.cpp src/platform/posix/system_calls.cpp src/platform/posix/convert.cpp src/text/utf16.cpp)
target_include_directories(test_posix_lock PRIVATE src src/platform/posix)
target_link_libraries(test_posix_lock PRIVATE GTest::gtest_main pthread)
gtest_discover_tests(test_posix_lock PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)

# The same platform code with faults put in its way through its table of
# system calls.
add_executable(test_posix_system_faults tests/posix/test_system_faults.cpp
  src/platform/posix/files.cpp src/platform/posix/read_file.cpp src/platform/posix/lock.cpp
  src/platform/posix/process.cpp src/platform/posix/threads.cpp src/platform/posix/system_calls.cpp
  src/platform/posix/convert.cpp src/platform/posix/errors.cpp src/text/utf16.cpp)
target_include_directories(test_posix_system_faults PRIVATE src src/platform/posix)
target_link_libraries(test_posix_system_faults PRIVATE GTest::gtest_main pthread)
gtest_discover_tests(test_posix_system_faults PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)

find_program(PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
file(GLOB E2E_TESTS CONFIGURE_DEPENDS tests/e2e/test_*.py)
foreach(script ${E2E_TESTS})
  get_filename_component(name "${script}" NAME_WE)
  add_test(NAME e2e.${name} COMMAND ${PYTHON3} -m unittest -v ${name}
    WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}/tests/e2e")
  set_tests_properties(e2e.${name} PROPERTIES LABELS e2e TIMEOUT 900
    ENVIRONMENT "STAGE_DIR=${STAGE_DIR}")
endforeach()
