# The native Linux tree: the POSIX launcher library, the packer, unit tests.
find_package(PkgConfig REQUIRED)
find_library(ZSTD_STATIC NAMES libzstd.a zstd REQUIRED)
find_package(ZLIB REQUIRED)

if(LAUNCHER_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

set(LINUX_LIB_DIR "${STAGE_DIR}/lib/zembra/linux")
file(GLOB PLATFORM_SOURCES CONFIGURE_DEPENDS src/platform/posix/*.cpp)
add_library(launcher STATIC ${LOGIC_SOURCES} ${ARGUMENT_VECTOR_SOURCE} ${PLATFORM_SOURCES})
target_include_directories(launcher PRIVATE src src/platform/posix)
target_compile_options(launcher PRIVATE ${LAUNCHER_CXX_FLAGS})
set_target_properties(launcher PROPERTIES ARCHIVE_OUTPUT_DIRECTORY "${LINUX_LIB_DIR}")

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
