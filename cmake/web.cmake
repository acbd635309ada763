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

# ---- zlib, for the examples' PNG reader ----
# Debian's source package of zlib (1.2.13), which tools/web-zlib (run by tools/setup-deps.sh web)
# unpacks into .deps/zlib-src with its README and licence. The PNG reader calls inflate and
# crc32 only; the whole library but the gz* file functions is compiled, and the linker keeps
# what is called. The intro's page does not link it.
set(KRO_WEB_ZLIB_DIR ${CMAKE_CURRENT_SOURCE_DIR}/.deps/zlib-src)
if(NOT EXISTS ${KRO_WEB_ZLIB_DIR}/zlib.h)
  message(FATAL_ERROR "zlib's source is missing from ${KRO_WEB_ZLIB_DIR}: tools/web-zlib fetches it")
endif()
set(KRO_WEB_ZLIB_SOURCES adler32.c compress.c crc32.c deflate.c infback.c inffast.c inflate.c
                         inftrees.c trees.c uncompr.c zutil.c)
list(TRANSFORM KRO_WEB_ZLIB_SOURCES PREPEND ${KRO_WEB_ZLIB_DIR}/)
add_library(zlib_web STATIC ${KRO_WEB_ZLIB_SOURCES})
target_include_directories(zlib_web SYSTEM PUBLIC ${KRO_WEB_ZLIB_DIR})
# zlib's own code: its warnings are not this build's to fix.
target_compile_options(zlib_web PRIVATE -w)

# ---- the examples: the application layer on emscripten's SDL 1.2 ----
# Each example's loop is its own (kroAppFrame waits for the browser's next frame), kept running
# across the waits by ASYNCIFY; the engine's shader files and the example's data are packed
# into the page's file system (/sh, /data). The engine without the loader writer (krotool's,
# which needs the floating-point std::to_chars emscripten's C++ library lacks).
file(GLOB KRO_WEB_ALL_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/kro/*/*.cpp)
list(FILTER KRO_WEB_ALL_SOURCES EXCLUDE REGEX "/kro_meshsrc[.]cpp$")
# RapidJSON (Debian: rapidjson-dev) is header-only and target-neutral: the glTF reader takes the
# system's headers through a folder holding only them, so that no other system header can stand
# in for emscripten's.
find_path(KRO_WEB_RAPIDJSON_DIR rapidjson/document.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT KRO_WEB_RAPIDJSON_DIR)
  message(FATAL_ERROR "web: rapidjson/document.h not found (Debian: rapidjson-dev)")
endif()
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/rapidjson-only)
file(CREATE_LINK ${KRO_WEB_RAPIDJSON_DIR}/rapidjson ${CMAKE_CURRENT_BINARY_DIR}/rapidjson-only/rapidjson
     SYMBOLIC)
# Two row pointers of the picture scaler serve only its SSE2 path, which wasm does not take.
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/kro/picture/kro_bmp.cpp PROPERTIES
                            COMPILE_OPTIONS -Wno-unused-variable)
include(${CMAKE_CURRENT_SOURCE_DIR}/cmake/kroapp-font.cmake)
kro_app_font(KRO_WEB_APP_FONT)
file(GLOB KRO_WEB_APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app/*.cpp)
add_library(kroapp_web STATIC ${KRO_WEB_ALL_SOURCES} ${KRO_WEB_APP_SOURCES} ${KRO_WEB_APP_FONT})
target_include_directories(kroapp_web PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/kro
                                             ${CMAKE_CURRENT_SOURCE_DIR}/app
                                      PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/app)
target_compile_definitions(kroapp_web PUBLIC GL_GLEXT_PROTOTYPES)
target_include_directories(kroapp_web SYSTEM PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/rapidjson-only)
target_link_libraries(kroapp_web PUBLIC zlib_web)
# <kro/kroapp.h> as an installed engine gives it.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/include/kro/kroapp.h
     "#include \"${CMAKE_CURRENT_SOURCE_DIR}/app/kroapp.h\"\n")
target_include_directories(kroapp_web PUBLIC ${CMAKE_CURRENT_BINARY_DIR}/include)

# kro_web_example(NAME SOURCE...): dist page NAME from the sources, with examples/NAME as /data.
function(kro_web_example name)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/web/${name})
  add_executable(${name}_web ${ARGN})
  target_link_libraries(${name}_web PRIVATE kroapp_web)
  target_compile_definitions(${name}_web PRIVATE KRO_SHADER_DIR="/sh" EXAMPLE_DATA_DIR="/data")
  target_link_options(${name}_web PRIVATE ${KRO_WEB_LINK_OPTIONS} -sMODULARIZE=0 -sFILESYSTEM=1
    -sASYNCIFY -sEXIT_RUNTIME=1 -sEXPORTED_RUNTIME_METHODS=FS,callMain
    "SHELL:--preload-file ${CMAKE_CURRENT_SOURCE_DIR}/sh@/sh"
    "SHELL:--preload-file ${CMAKE_CURRENT_SOURCE_DIR}/examples/${name}@/data"
    # not the example's own picture (examples/NAME/NAME.png) nor the scripts that made its data
    "SHELL:--exclude-file ${CMAKE_CURRENT_SOURCE_DIR}/examples/${name}/${name}.png"
    "SHELL:--exclude-file *.py")
  set_target_properties(${name}_web PROPERTIES OUTPUT_NAME ${name} SUFFIX .js
                        RUNTIME_OUTPUT_DIRECTORY ${page})
  set(NAME ${name})
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/web/example.html ${page}/index.html @ONLY)
endfunction()
kro_web_example(minimal ${CMAKE_CURRENT_SOURCE_DIR}/examples/minimal/main.cpp
                ${CMAKE_CURRENT_SOURCE_DIR}/examples/minimal/loaders/cube_mesh.cpp)
foreach(name runtime-model terrain post sound flight)
  kro_web_example(${name} ${CMAKE_CURRENT_SOURCE_DIR}/examples/${name}/${name}.cpp)
endforeach()

# The text, textured, timing and scene examples need what the native build makes: the font
# krotool packs from the text example's glyphs, the textured example's compiled-in mesh and
# material table (krotool mesh-src), timing's music (krotool song-wav), and the engine's default
# font (fonts/kroview.krof) the scene writes with. KRO_WEB_NATIVE is that build's folder (make web
# builds krotool and the font there); without it the four pages are left out.
set(KRO_WEB_NATIVE "" CACHE PATH "the native build, whose krotool and font the text, textured and scene pages use")
if(KRO_WEB_NATIVE)
  set(krotool ${KRO_WEB_NATIVE}/tools/krotool)
  set(data ${CMAKE_CURRENT_BINARY_DIR}/web-data)
  file(MAKE_DIRECTORY ${data}/text ${data}/textured)
  set(font ${data}/text/text.krof)
  file(GLOB glyphs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/examples/text/glyphs/*.bmp)
  add_custom_command(OUTPUT ${font}
    COMMAND ${krotool} font-build ${CMAKE_CURRENT_SOURCE_DIR}/examples/text/glyphs 8 8 ${font}
    DEPENDS ${glyphs} ${krotool} VERBATIM)
  kro_web_example(text ${CMAKE_CURRENT_SOURCE_DIR}/examples/text/text.cpp ${font})
  # The fonts are packed beside the example's folder: /text.krof, /kroview.krof.
  target_compile_definitions(text_web PRIVATE EXAMPLE_FONT="/text.krof")
  target_link_options(text_web PRIVATE "SHELL:--preload-file ${font}@/text.krof")

  set(model ${CMAKE_CURRENT_SOURCE_DIR}/examples/textured/textured.ase)
  add_custom_command(OUTPUT ${data}/textured/textured_mesh.cpp ${data}/textured/textured_mesh.h
                            ${data}/textured/textured_materials.h
    COMMAND ${krotool} mesh-src ${model} Torus -o ${data}/textured/textured_mesh.cpp
            --header ${data}/textured/textured_mesh.h --materials ${data}/textured/textured_materials.h
    DEPENDS ${model} ${krotool} VERBATIM)
  kro_web_example(textured ${CMAKE_CURRENT_SOURCE_DIR}/examples/textured/textured.cpp
                  ${data}/textured/textured_mesh.cpp)
  target_include_directories(textured_web PRIVATE ${data}/textured)

  # timing's music: its song rendered by krotool (which finds the presets from the source
  # folder), then made FLAC by ffmpeg: lossless, a third of the WAV, and decoded by browsers.
  find_program(KRO_WEB_FFMPEG ffmpeg REQUIRED)
  set(music ${data}/timing/timing.flac)
  file(MAKE_DIRECTORY ${data}/timing)
  add_custom_command(OUTPUT ${music}
    COMMAND ${krotool} song-wav ${data}/timing/timing.wav examples/timing/timing.song
    COMMAND ${KRO_WEB_FFMPEG} -loglevel error -y -i ${data}/timing/timing.wav ${music}
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/examples/timing/timing.song ${krotool} VERBATIM)
  kro_web_example(timing ${CMAKE_CURRENT_SOURCE_DIR}/examples/timing/timing.cpp ${music})
  target_compile_definitions(timing_web PRIVATE TIMING_MUSIC="/timing.flac")
  target_link_options(timing_web PRIVATE "SHELL:--preload-file ${music}@/timing.flac")

  kro_web_example(scene ${CMAKE_CURRENT_SOURCE_DIR}/examples/scene/scene.cpp)
  target_compile_definitions(scene_web PRIVATE KRO_FONT_FILE="/kroview.krof")
  target_link_options(scene_web PRIVATE
    "SHELL:--preload-file ${KRO_WEB_NATIVE}/fonts/kroview.krof@/kroview.krof")
  set_property(TARGET scene_web APPEND PROPERTY LINK_DEPENDS ${KRO_WEB_NATIVE}/fonts/kroview.krof)
else()
  message(STATUS "web: no KRO_WEB_NATIVE: the text, textured, timing and scene pages are left out")
endif()
