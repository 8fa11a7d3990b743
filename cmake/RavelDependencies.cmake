# Finds Qt 5 and Qwt 6.1; every failure names the Debian package that provides
# what is missing, so that scripts/install-deps (or apt) can fix it.

function(ravel_require_package found what debian_package)
  if(NOT ${found})
    message(FATAL_ERROR
      "${what} was not found. Install the Debian package '${debian_package}' "
      "(or run scripts/install-deps, which installs everything the build needs).")
  endif()
endfunction()

foreach(component Core Gui Widgets Network Xml Test)
  find_package(Qt5${component} 5.15 QUIET)
  ravel_require_package(Qt5${component}_FOUND "Qt 5.15 ${component}" "qtbase5-dev")
endforeach()

find_package(PkgConfig QUIET)
ravel_require_package(PKG_CONFIG_FOUND "pkg-config" "pkg-config")

# Qwt's pkg-config module pulls in QtSvg and QtOpenGL as well.
foreach(component Svg OpenGL)
  find_package(Qt5${component} 5.15 QUIET)
endforeach()
ravel_require_package(Qt5Svg_FOUND "Qt 5 Svg (needed by Qwt)" "libqt5svg5-dev")
ravel_require_package(Qt5OpenGL_FOUND "Qt 5 OpenGL (needed by Qwt)" "libqt5opengl5-dev")
pkg_check_modules(QWT QUIET IMPORTED_TARGET Qt5Qwt6>=6.1)
ravel_require_package(QWT_FOUND "Qwt 6.1 for Qt 5 (pkg-config module Qt5Qwt6)" "libqwt-qt5-dev")

if(RAVEL_BUILD_TESTS)
  find_package(GTest QUIET)
  ravel_require_package(GTest_FOUND "GoogleTest" "libgtest-dev")
endif()
if(RAVEL_BUILD_BENCH)
  find_package(benchmark QUIET)
  ravel_require_package(benchmark_FOUND "Google Benchmark" "libbenchmark-dev")
endif()
