# Install rules: the engine library, its header as include/kro/kro.h, krotool,
# the engine's shader files under share/kro/sh, instrument presets under share/kro/presets, a CMake package (kro::kro,
# kro::krotool, KRO_SHADER_DIR, KRO_FONT_FILE) and kro.pc for pkg-config; the
# application layer (kroapp, include/kro/kroapp.h) with its CMake target
# kro::kroapp and kroapp.pc, when it is built; the default font
# (cmake/font.cmake) as share/kro/fonts/kroview.krof, with the tools.
# Included from the top-level CMakeLists.txt when KRO_INSTALL is on.
include(CMakePackageConfigHelpers)

set(KRO_INSTALL_SHADER_DIR ${CMAKE_INSTALL_DATADIR}/kro/sh)
set(KRO_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kro)
set(KRO_INSTALL_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(KRO_INSTALL_FONT_FILE ${CMAKE_INSTALL_DATADIR}/kro/fonts/kroview.krof)

install(TARGETS kro EXPORT kroTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/kro/kro.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kro)
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/sh/ish ${CMAKE_CURRENT_SOURCE_DIR}/sh/psh
        DESTINATION ${KRO_INSTALL_SHADER_DIR})
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/presets/ DESTINATION ${CMAKE_INSTALL_DATADIR}/kro/presets
        FILES_MATCHING PATTERN "*.song")
# The library knows the configured prefix's shader folder (kro_init.cpp); installed elsewhere,
# its productions must name the folder themselves.
install(CODE "if(NOT CMAKE_INSTALL_PREFIX STREQUAL \"${CMAKE_INSTALL_PREFIX}\")
  message(WARNING \"kro: libkro looks for its shader files in ${CMAKE_INSTALL_FULL_DATADIR}/kro/sh; \"
    \"installed under \${CMAKE_INSTALL_PREFIX}, productions must call kroSetShaderFolder \"
    \"(pkg-config --variable=shaderdir kro) or configure with -DCMAKE_INSTALL_PREFIX\")
endif()")
if(TARGET krotool)
  install(TARGETS krotool EXPORT kroTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET kroview_font)
  install(FILES ${KRO_BUILD_FONT_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/kro/fonts)
endif()
if(TARGET kroapp)
  install(TARGETS kroapp EXPORT kroTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/app/kroapp.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kro)
endif()

install(EXPORT kroTargets NAMESPACE kro:: FILE kroTargets.cmake
        DESTINATION ${KRO_INSTALL_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/kroConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/kroConfig.cmake
  INSTALL_DESTINATION ${KRO_INSTALL_CMAKE_DIR}
  PATH_VARS KRO_INSTALL_SHADER_DIR KRO_INSTALL_FONT_FILE)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/kroConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kroConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/kroConfigVersion.cmake
        DESTINATION ${KRO_INSTALL_CMAKE_DIR})

# kro.pc finds the prefix from its own place, so that `cmake --install --prefix`
# may choose another prefix than the one configured.
file(RELATIVE_PATH KRO_PC_TO_PREFIX /root/${KRO_INSTALL_PKGCONFIG_DIR} /root)
string(REGEX REPLACE "/$" "" KRO_PC_TO_PREFIX ${KRO_PC_TO_PREFIX})
configure_file(${CMAKE_CURRENT_LIST_DIR}/kro.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kro.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kro.pc DESTINATION ${KRO_INSTALL_PKGCONFIG_DIR})
if(TARGET kroapp)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/kroapp.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kroapp.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kroapp.pc DESTINATION ${KRO_INSTALL_PKGCONFIG_DIR})
endif()
