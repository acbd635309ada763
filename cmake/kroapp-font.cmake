# kro_app_font(VAR): the rule that compiles the overlay's font table into a source file the
# application layer includes (cmake/embed-font.cmake), that file's path in VAR; its folder is
# <build>/app, which kroapp adds to its include path.
function(kro_app_font var)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/app/kroapp_font.inc)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/app
    COMMAND ${CMAKE_COMMAND} -DTABLE=${CMAKE_CURRENT_SOURCE_DIR}/viewer/font/kroview-8x8.txt
            -DOUT=${out} -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/embed-font.cmake
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/viewer/font/kroview-8x8.txt
            ${CMAKE_CURRENT_SOURCE_DIR}/cmake/embed-font.cmake
    COMMENT "Compiling the overlay font into kroapp")
  set(${var} ${out} PARENT_SCOPE)
endfunction()
