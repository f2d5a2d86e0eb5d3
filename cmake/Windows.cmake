# The Windows build: the libraries without widgets and their tests, built
# with mingw-w64 and run under Wine (cmake/mingw-w64-x86_64.cmake).
if(KORVANE_WITH_UI)
  message(FATAL_ERROR "The Windows build has no window yet: configure it with -DKORVANE_WITH_UI=OFF")
endif()

# The program's folders that need the window or Linux itself (the simulator
# runs on pseudo-terminals and stays a Linux program); tests/windows
# registers the tests that run on Windows.
set(KORVANE_SKIP_DIRS "src/maps;sim;tests/platform;tests/sim;tests/ecu;tests/lambda;tests/live;tests/firmware;tests/maps;tests/tuning;tests/logs;tests/app;tests/reliability;tests/e2e"
    CACHE STRING "Folders to leave out of this build")

# Every source sees the POSIX names the file code uses in their Windows form.
add_compile_options(-include ${CMAKE_SOURCE_DIR}/src/platform/win/PosixCompat.h)

if(BUILD_TESTING)
  # GoogleTest from the distribution's source package (googletest), built
  # with the cross compiler like the rest.
  set(KORVANE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${KORVANE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  enable_testing()

  # Every test runs in a Wine prefix of this build's own, made once.
  set(KORVANE_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
  set(KORVANE_WINE_ENV "WINEPREFIX=${KORVANE_WINEPREFIX}" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml=")
  add_test(NAME wine_prefix
           COMMAND ${CMAKE_COMMAND} -E env ${KORVANE_WINE_ENV} ${KORVANE_WINE} wineboot -i)
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine)
endif()
