# The intro (shell, scene, generated meshes) and the regeneration of its meshes;
# included from the top-level CMakeLists.txt when KRO_BUILD_INTRO is on.
# ---- the intro (shell, scene, generated meshes) ----
# The generated loaders, the scene and the shell are separate libraries so that
# tests and tools can link the real scene without the shell's main().
file(GLOB KRO_MESH_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/meshes/*.cpp)
file(GLOB KRO_SCENE_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/scene/*.cpp)
file(GLOB KRO_SHELL_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/shell/*.cpp)
if(KRO_MESH_SOURCES)
  add_library(zkmeshes STATIC ${KRO_MESH_SOURCES})
  target_include_directories(zkmeshes PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/meshes)
  target_link_libraries(zkmeshes PUBLIC kro)
endif()
if(KRO_SCENE_SOURCES AND KRO_MESH_SOURCES)
  add_library(zkscene STATIC ${KRO_SCENE_SOURCES})
  target_include_directories(zkscene PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/scene)
  target_link_libraries(zkscene PUBLIC zkmeshes)
endif()
if(KRO_SHELL_SOURCES AND TARGET zkscene)
  add_executable(zkintro ${KRO_SHELL_SOURCES})
  target_include_directories(zkintro PRIVATE ${SDL_INCLUDE_DIR})
  target_link_libraries(zkintro PRIVATE zkscene ${KRO_SDL_LIBRARY} ${CMAKE_DL_LIBS})
endif()
# ---- mesh regeneration from assets/ (asset tools, krotool mesh-src) ----
# zkassets writes the models into the build tree and krotool mesh-src turns
# them into the loader sources. The GeneratedMeshes tests fail while the
# committed assets/*.ase or meshes/load*Mesh.cpp differ from these; the target
# update-meshes copies the fresh files over the committed ones.
set(ZK_GENERATED ${CMAKE_CURRENT_BINARY_DIR}/generated)
set(ZK_MODELS bits zanyklump)
set(ZK_LOADER_FILE_bits loadBitsMesh)
set(ZK_LOADER_NAMES_bits Bit0,Bit1)
set(ZK_LOADER_FILE_zanyklump loadZanyKlumpMesh)
set(ZK_LOADER_NAMES_zanyklump FontZ,FontA,FontN,FontY,FontK,FontL,FontU,FontM,FontP)
add_custom_command(
  OUTPUT ${ZK_GENERATED}/assets/bits.ase ${ZK_GENERATED}/assets/zanyklump.ase
         ${ZK_GENERATED}/assets/showcase.ase
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZK_GENERATED}/assets
  COMMAND zkassets ${ZK_GENERATED}/assets
  DEPENDS zkassets
  COMMENT "Writing the intro's models with zkassets")
set(ZK_GENERATED_FILES)
foreach(model ${ZK_MODELS})
  set(loader ${ZK_LOADER_FILE_${model}})
  add_custom_command(
    OUTPUT ${ZK_GENERATED}/meshes/${loader}.cpp
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ZK_GENERATED}/meshes
    COMMAND ${CMAKE_COMMAND} -DKROTOOL=$<TARGET_FILE:krotool>
            -DASE=${ZK_GENERATED}/assets/${model}.ase -DASSET=assets/${model}.ase
            -DNAMES=${ZK_LOADER_NAMES_${model}} -DOUT=${ZK_GENERATED}/meshes/${loader}.cpp
            -P ${CMAKE_CURRENT_SOURCE_DIR}/intro-tools/zkmeshsrc.cmake
    DEPENDS krotool ${ZK_GENERATED}/assets/${model}.ase ${CMAKE_CURRENT_SOURCE_DIR}/intro-tools/zkmeshsrc.cmake
    COMMENT "Generating meshes/${loader}.cpp with krotool mesh-src")
  list(APPEND ZK_GENERATED_FILES ${ZK_GENERATED}/assets/${model}.ase
       ${ZK_GENERATED}/meshes/${loader}.cpp)
endforeach()
# The intro's song: assets/zkintro.song compiled into scene/ZKsong.cpp.
add_custom_command(
  OUTPUT ${ZK_GENERATED}/scene/ZKsong.cpp
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZK_GENERATED}/scene
  COMMAND krotool song-src assets/zkintro.song zk_song --include ZKsong.h
          -o ${ZK_GENERATED}/scene/ZKsong.cpp
  WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
  DEPENDS krotool ${CMAKE_CURRENT_SOURCE_DIR}/assets/zkintro.song
  COMMENT "Generating scene/ZKsong.cpp with krotool song-src")
list(APPEND ZK_GENERATED_FILES ${ZK_GENERATED}/scene/ZKsong.cpp)
# kroview's showcase scene (make view) is a model only: no loader is made from it.
list(APPEND ZK_GENERATED_FILES ${ZK_GENERATED}/assets/showcase.ase)
add_custom_target(zkmeshes_generated ALL DEPENDS ${ZK_GENERATED_FILES})
add_custom_target(update-meshes DEPENDS zkmeshes_generated)
find_program(ZK_DIFF diff)
if(ZK_DIFF)
  set(ZK_COMPARE ${ZK_DIFF} -u) # shows what changed
else()
  set(ZK_COMPARE ${CMAKE_COMMAND} -E compare_files)
endif()
add_custom_command(TARGET update-meshes POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy ${ZK_GENERATED}/assets/showcase.ase ${CMAKE_CURRENT_SOURCE_DIR}/assets/)
add_custom_command(TARGET update-meshes POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy ${ZK_GENERATED}/scene/ZKsong.cpp ${CMAKE_CURRENT_SOURCE_DIR}/scene/)
if(KRO_BUILD_TESTS)
  add_test(NAME GeneratedMeshes.scene_ZKsong_cpp
           COMMAND ${ZK_COMPARE} ${CMAKE_CURRENT_SOURCE_DIR}/scene/ZKsong.cpp
                   ${ZK_GENERATED}/scene/ZKsong.cpp)
  add_test(NAME GeneratedMeshes.assets_showcase_ase
           COMMAND ${ZK_COMPARE} ${CMAKE_CURRENT_SOURCE_DIR}/assets/showcase.ase
                   ${ZK_GENERATED}/assets/showcase.ase)
endif()
foreach(model ${ZK_MODELS})
  set(loader ${ZK_LOADER_FILE_${model}})
  add_custom_command(TARGET update-meshes POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy ${ZK_GENERATED}/assets/${model}.ase ${CMAKE_CURRENT_SOURCE_DIR}/assets/
    COMMAND ${CMAKE_COMMAND} -E copy ${ZK_GENERATED}/meshes/${loader}.cpp ${CMAKE_CURRENT_SOURCE_DIR}/meshes/)
  if(KRO_BUILD_TESTS)
    enable_testing()
    add_test(NAME GeneratedMeshes.assets_${model}_ase
             COMMAND ${ZK_COMPARE} ${CMAKE_CURRENT_SOURCE_DIR}/assets/${model}.ase ${ZK_GENERATED}/assets/${model}.ase)
    add_test(NAME GeneratedMeshes.meshes_${loader}_cpp
             COMMAND ${ZK_COMPARE} ${CMAKE_CURRENT_SOURCE_DIR}/meshes/${loader}.cpp
                     ${ZK_GENERATED}/meshes/${loader}.cpp)
  endif()
endforeach()
# ---- the release: the intro built for size, with its archive ----
include(${CMAKE_CURRENT_LIST_DIR}/release.cmake)
