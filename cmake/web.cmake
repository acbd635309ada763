# The web build, configured with emscripten's emcmake (make web): the engine's drawing through
# its WebGL layer (kro/web), the intro's scene, meshes and song, and its page. Included from the
# top-level CMakeLists.txt in place of everything else when the compiler is emcc; the pages land
# in <build>/web/<name>/ (index.html, .js, .wasm), which tools/web-dist copies to dist/web.
# The intro needs no zlib, file system or SDL: its textures are made in memory, its shaders are
# texts in the program, and the page gives it the canvas, the clock and the audio.
set(KRO_WEB_ENGINE_SOURCES kro/base/kro_error.cpp kro/gl/kro_object.cpp kro/gl/kro_transform.cpp
                           kro/gl/kro_shader.cpp kro/sound/kro_synth.cpp kro/web/kro_webgl.cpp)
list(TRANSFORM KRO_WEB_ENGINE_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
add_library(kro_web STATIC ${KRO_WEB_ENGINE_SOURCES})
target_include_directories(kro_web PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/kro)
target_compile_definitions(kro_web PUBLIC GL_GLEXT_PROTOTYPES)

# -Os for the page's size; the module is a factory (createZKintro), so that "play again" starts
# a fresh scene; WebGL 1 only; no filesystem (printf still reaches the console).
set(KRO_WEB_LINK_OPTIONS -Os -sENVIRONMENT=web -sMODULARIZE=1 -sALLOW_MEMORY_GROWTH=1
    -sMIN_WEBGL_VERSION=1 -sMAX_WEBGL_VERSION=1 -sFILESYSTEM=0 -sMINIFY_HTML=0)

file(GLOB KRO_WEB_INTRO_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/scene/*.cpp
     ${CMAKE_CURRENT_SOURCE_DIR}/meshes/*.cpp)
add_executable(zkintro_web ${CMAKE_CURRENT_SOURCE_DIR}/web/zkintro_web.cpp ${KRO_WEB_INTRO_SOURCES})
target_include_directories(zkintro_web PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/scene
                                               ${CMAKE_CURRENT_SOURCE_DIR}/meshes)
target_link_libraries(zkintro_web PRIVATE kro_web)
target_link_options(zkintro_web PRIVATE ${KRO_WEB_LINK_OPTIONS} -sEXPORT_NAME=createZKintro)
set_target_properties(zkintro_web PROPERTIES OUTPUT_NAME zkintro SUFFIX .js
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/web/zkintro)
add_custom_command(TARGET zkintro_web POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/web/zkintro.html
          ${CMAKE_CURRENT_BINARY_DIR}/web/zkintro/index.html)
