# The release: the intro built for size and packed for its audience.
# Included from cmake/intro.cmake once zkintro is defined. The target `release`
# builds release/zkintro from the same sources as zkintro, checks that it is at
# most ZK_RELEASE_LIMIT bytes (the build fails and says by how much otherwise),
# and writes dist/zkintro and dist/zkintro-<version>-<system>-<processor>.tar.gz
# (with README.txt) under the build folder; `make release` copies them to dist/.
# Not in the sanitizer build: its flags would apply to these targets as well.
if(KRO_SANITIZE OR NOT TARGET zkintro)
  return()
endif()

set(ZK_RELEASE_LIMIT 65536) # bytes, 64 KiB: the largest the released intro may be
string(TOLOWER "zkintro-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}"
       ZK_RELEASE_NAME)
set(ZK_RELEASE_DIST ${CMAKE_BINARY_DIR}/dist)

# Bytes each option saved on the stripped 1.0.0 intro, added in this order
# (GCC 12, binutils 2.40; the Release build was 76,608): -Os 4,096; function and
# data sections with --gc-sections, which also drops the engine code the intro
# never calls, 12,304; -z noseparate-code 4,096; no exception tables, RTTI or
# unwind tables 4,096; -fno-pie with -no-pie 152; -fno-plt 752; -z norelro 1,688;
# no build id 112; --hash-style=gnu 0 (the default here). Result: 49,312. The
# savings are not additive: segments are padded to 4 KiB pages in the file.
set(ZK_RELEASE_COMPILE_OPTIONS
    -Os -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables -fno-plt -fno-pie)
set(ZK_RELEASE_LINK_OPTIONS
    -no-pie -s LINKER:--gc-sections LINKER:-z,noseparate-code LINKER:-z,norelro
    LINKER:--hash-style=gnu LINKER:--build-id=none)

# The engine as its own archive: only the modules the intro calls are linked.
add_library(zkintro_release_engine STATIC EXCLUDE_FROM_ALL ${KRO_SOURCES})
add_executable(zkintro_release EXCLUDE_FROM_ALL ${KRO_SHELL_SOURCES} ${KRO_SCENE_SOURCES}
                                                ${KRO_MESH_SOURCES})
foreach(target zkintro_release_engine zkintro_release)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/kro
                             ${CMAKE_CURRENT_SOURCE_DIR}/scene ${CMAKE_CURRENT_SOURCE_DIR}/meshes
                             ${SDL_INCLUDE_DIR})
  # Later options win over the build type's -O level; the build type may lack NDEBUG.
  target_compile_options(${target} PRIVATE ${ZK_RELEASE_COMPILE_OPTIONS})
  target_compile_definitions(${target} PRIVATE GL_GLEXT_PROTOTYPES NDEBUG)
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
endforeach()
target_link_options(zkintro_release PRIVATE ${ZK_RELEASE_LINK_OPTIONS})
target_link_libraries(zkintro_release PRIVATE zkintro_release_engine ${KRO_SDL_LIBRARY} ${CMAKE_DL_LIBS}
                                              OpenGL::GL m)
set_target_properties(zkintro_release PROPERTIES OUTPUT_NAME zkintro
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/release)

set(ZK_VERSION ${PROJECT_VERSION})
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/zkintro-README.txt.in
               ${CMAKE_BINARY_DIR}/release/README.txt @ONLY)
add_custom_command(
  OUTPUT ${ZK_RELEASE_DIST}/zkintro ${ZK_RELEASE_DIST}/${ZK_RELEASE_NAME}.tar.gz
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/intro-tools/zkrelease --limit ${ZK_RELEASE_LIMIT}
          --name ${ZK_RELEASE_NAME} $<TARGET_FILE:zkintro_release>
          ${CMAKE_BINARY_DIR}/release/README.txt ${ZK_RELEASE_DIST}
  DEPENDS zkintro_release ${CMAKE_BINARY_DIR}/release/README.txt
          ${CMAKE_CURRENT_SOURCE_DIR}/intro-tools/zkrelease
  COMMENT "Packing the release: at most ${ZK_RELEASE_LIMIT} bytes")
add_custom_target(release DEPENDS ${ZK_RELEASE_DIST}/zkintro
                                  ${ZK_RELEASE_DIST}/${ZK_RELEASE_NAME}.tar.gz)
