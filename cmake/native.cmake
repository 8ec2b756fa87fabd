# The native Linux tree: the Linux launcher stub, the packer, unit tests.
find_package(PkgConfig REQUIRED)
find_library(ZSTD_STATIC NAMES libzstd.a zstd REQUIRED)
find_package(ZLIB REQUIRED)
# The launcher's CRC-32 (Debian's libdeflate-dev); the packer keeps zlib's.
find_library(LIBDEFLATE_STATIC NAMES libdeflate.a REQUIRED)

if(LAUNCHER_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

file(GLOB PLATFORM_SOURCES CONFIGURE_DEPENDS src/platform/posix/*.cpp)
add_library(launcher_objects OBJECT ${LOGIC_SOURCES} ${ARGUMENT_VECTOR_SOURCE} ${PLATFORM_SOURCES})
target_include_directories(launcher_objects PRIVATE src src/platform/posix)
target_compile_options(launcher_objects PRIVATE ${LAUNCHER_CXX_FLAGS})

# The stub every Linux launcher is written from: the whole launcher with an
# empty descriptor. Everything but the C library goes in whole, so a launcher
# runs on any current glibc system without further packages.
add_executable(linux_stub $<TARGET_OBJECTS:launcher_objects>)
target_link_options(linux_stub PRIVATE -static-libstdc++ -static-libgcc -pthread)
# A sanitized stub keeps its symbols, so that a report names the code, and
# carries the sanitizers' runtimes in whole, so that it still needs no more
# of a system than the C library.
if(LAUNCHER_SANITIZE)
  target_link_options(linux_stub PRIVATE -static-libasan -static-libubsan)
else()
  target_link_options(linux_stub PRIVATE -s)
endif()
target_link_libraries(linux_stub PRIVATE ${ZSTD_STATIC} ${LIBDEFLATE_STATIC})
set_target_properties(linux_stub PROPERTIES OUTPUT_NAME linux-x64
  RUNTIME_OUTPUT_DIRECTORY "${STAGE_DIR}/lib/zembra/stubs")

enable_testing()
if(EXISTS "${CMAKE_SOURCE_DIR}/packer/CMakeLists.txt")
  add_subdirectory(packer)
endif()
if(NOT LAUNCHER_SANITIZE)
  add_subdirectory(examples)
  add_subdirectory(bench)
endif()
include(cmake/tests.cmake)

# The packer's data files (manifest, default icons), found beside the packer
# at <packer dir>/../share/zembra/res.
add_custom_target(stage_resources ALL
  COMMAND ${CMAKE_COMMAND} -E copy_if_different "${CMAKE_SOURCE_DIR}/res/launcher.manifest"
    "${STAGE_DIR}/share/zembra/res/launcher.manifest"
  COMMAND ${CMAKE_COMMAND} -E copy_directory "${CMAKE_SOURCE_DIR}/res/icons" "${STAGE_DIR}/share/zembra/res/icons"
  COMMENT "Staging the launcher resources")
