# The engine's default font, fonts/kroview.krof in the build tree (the viewer's
# overlay font too): kvglyphs draws the readable table viewer/font/kroview-8x8.txt
# as one BMP per glyph into fonts/glyphs, and krotool font-build packs them.
# Needs only the engine and krotool. Defines the target kroview_font and
# KRO_BUILD_FONT_FILE; install.cmake installs the font as
# share/kro/fonts/kroview.krof. Included from the top-level CMakeLists.txt
# with the tools.
add_executable(kvglyphs ${PROJECT_SOURCE_DIR}/viewer/kvglyphs.cpp)
target_link_libraries(kvglyphs PRIVATE kro)
set(KRO_FONT_TABLE ${PROJECT_SOURCE_DIR}/viewer/font/kroview-8x8.txt)
set(KRO_FONT_GLYPH_DIR ${PROJECT_BINARY_DIR}/fonts/glyphs)
set(KRO_BUILD_FONT_FILE ${PROJECT_BINARY_DIR}/fonts/kroview.krof)
add_custom_command(
  OUTPUT ${KRO_BUILD_FONT_FILE}
  COMMAND ${CMAKE_COMMAND} -E remove_directory ${KRO_FONT_GLYPH_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/fonts
  COMMAND kvglyphs ${KRO_FONT_TABLE} ${KRO_FONT_GLYPH_DIR}
  COMMAND krotool font-build ${KRO_FONT_GLYPH_DIR} 8 8 ${KRO_BUILD_FONT_FILE}
  DEPENDS kvglyphs krotool ${KRO_FONT_TABLE}
  COMMENT "Building the engine's default font")
add_custom_target(kroview_font ALL DEPENDS ${KRO_BUILD_FONT_FILE})
