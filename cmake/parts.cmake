# The optional parts and what they stand on. The engine and krotool need only a
# C++ compiler, GL and zlib; every other part that is on (its KRO_BUILD_... option)
# is built when its packages are found, and otherwise skipped with one line
# that names what is missing. KRO_REQUIRE lists the parts whose missing
# packages stop the configuration instead ("all": every part that is on): the
# Makefile's targets set it, so that they never skip what they run.
# Included from the top-level CMakeLists.txt; afterwards each option left on
# has what it needs, and KRO_BUILD_ZKCAPTURE tells whether zkcapture is built.

set(KRO_REQUIRE "" CACHE STRING
    "Parts that must be built, a missing package failing the configuration: any of tests, bench, viewer, intro, zkcapture, or all")
set(KRO_PARTS tests bench viewer intro zkcapture)
foreach(part ${KRO_REQUIRE})
  if(NOT part STREQUAL "all" AND NOT part IN_LIST KRO_PARTS)
    message(FATAL_ERROR "kro: KRO_REQUIRE names '${part}', which is none of: all ${KRO_PARTS}")
  endif()
endforeach()

# What to install for each package (Debian names; tools/setup-deps.sh installs them).
set(KRO_PACKAGE_SDL "SDL 1.2 (libsdl1.2-dev)")
set(KRO_PACKAGE_SNDFILE "libsndfile (libsndfile1-dev)")
set(KRO_PACKAGE_PNG "libpng (libpng-dev)")
set(KRO_PACKAGE_ZLIB "zlib (zlib1g-dev)")
set(KRO_PACKAGE_X11 "Xlib (libx11-dev)")
set(KRO_PACKAGE_GTest "GoogleTest (libgtest-dev)")
set(KRO_PACKAGE_benchmark "Google Benchmark (libbenchmark-dev)")
set(KRO_PACKAGE_STB "stb (libstb-dev)")
set(KRO_PACKAGE_ASSIMP "assimp (libassimp-dev, pkg-config)")

# Looks each package up once, quietly, and only when a part that is on needs it.
set(KRO_WANT_SDL OFF)
if(KRO_BUILD_INTRO OR KRO_BUILD_VIEWER OR KRO_BUILD_TESTS OR KRO_BENCH OR KRO_INSTALL)
  set(KRO_WANT_SDL ON)
endif()
if(KRO_WANT_SDL)
  find_package(SDL QUIET)
  if(SDL_FOUND)
    # libSDL only: SDL_LIBRARY also names libSDLmain, which brings its own main().
    find_library(KRO_SDL_LIBRARY NAMES SDL)
  endif()
  if(NOT KRO_SDL_LIBRARY)
    set(SDL_FOUND OFF)
  endif()
  # The application layer decodes soundtracks (WAV, Ogg Vorbis, FLAC) with libsndfile.
  find_library(KRO_SNDFILE_LIBRARY NAMES sndfile)
  find_path(KRO_SNDFILE_INCLUDE_DIR sndfile.h)
  set(KRO_SNDFILE_FOUND OFF)
  if(KRO_SNDFILE_LIBRARY AND KRO_SNDFILE_INCLUDE_DIR)
    set(KRO_SNDFILE_FOUND ON)
  endif()
endif()
if(KRO_BUILD_INTRO OR KRO_BUILD_VIEWER OR KRO_BUILD_TESTS OR KRO_BENCH)
  find_package(PNG QUIET)
endif()
if(KRO_BUILD_TESTS)
  find_package(GTest QUIET)
  find_package(ZLIB QUIET)
  find_package(X11 QUIET)
endif()
if(KRO_BENCH)
  find_package(benchmark QUIET)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(KRO_ASSIMP QUIET IMPORTED_TARGET assimp)
  endif()
endif()
if(KRO_BUILD_TESTS OR KRO_BENCH)
  # stb_image reads pictures back beside the engine's own readers.
  find_library(KRO_STB_LIBRARY NAMES stb)
  set(KRO_STB_FOUND OFF)
  if(KRO_STB_LIBRARY)
    set(KRO_STB_FOUND ON)
  endif()
endif()

# kro_part(<option> <part> <FOUND variable>|<package key>...): turns <option>
# off, with one line, when any listed package was not found; stops instead
# when <part> is required.
function(kro_part option part)
  if(NOT ${option})
    if(part IN_LIST KRO_REQUIRE)
      message(FATAL_ERROR "kro: KRO_REQUIRE asks for ${part}, but ${option} is off")
    endif()
    return()
  endif()
  set(missing)
  foreach(entry ${ARGN})
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 found)
    list(GET entry 1 key)
    if(NOT ${found})
      list(APPEND missing "${KRO_PACKAGE_${key}}")
    endif()
  endforeach()
  if(NOT missing)
    return()
  endif()
  list(JOIN missing ", " names)
  if(part IN_LIST KRO_REQUIRE OR "all" IN_LIST KRO_REQUIRE)
    list(LENGTH missing count)
    if(count EQUAL 1)
      set(verb "was")
    else()
      set(verb "were")
    endif()
    message(FATAL_ERROR "kro: ${part} needs ${names}, which ${verb} not found "
                        "(tools/setup-deps.sh installs what the Makefile's targets need)")
  endif()
  message("kro: skipping ${part}: ${names} not found")
  set(${option} OFF PARENT_SCOPE)
endfunction()

# zkcapture is part of the intro and renders it off-screen into PNG files.
set(KRO_BUILD_ZKCAPTURE ${KRO_BUILD_INTRO})
kro_part(KRO_BUILD_ZKCAPTURE zkcapture SDL_FOUND|SDL PNG_FOUND|PNG)
kro_part(KRO_BUILD_INTRO intro SDL_FOUND|SDL)
kro_part(KRO_BUILD_VIEWER viewer SDL_FOUND|SDL PNG_FOUND|PNG)
kro_part(KRO_BUILD_TESTS tests GTest_FOUND|GTest SDL_FOUND|SDL KRO_STB_FOUND|STB ZLIB_FOUND|ZLIB
         X11_FOUND|X11 PNG_FOUND|PNG KRO_SNDFILE_FOUND|SNDFILE)
kro_part(KRO_BENCH bench benchmark_FOUND|benchmark SDL_FOUND|SDL KRO_STB_FOUND|STB
         KRO_ASSIMP_FOUND|ASSIMP PNG_FOUND|PNG)
