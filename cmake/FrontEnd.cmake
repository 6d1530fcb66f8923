# The front end's dependencies and the conventions every folder above the engine shares.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets DBus Test Concurrent)
find_package(PkgConfig REQUIRED)
pkg_check_modules(IBUS REQUIRED IMPORTED_TARGET ibus-1.0)
# GPowerProfileMonitor came with GLib 2.70.
pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0>=2.70)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
find_package(GTest REQUIRED)
include(GoogleTest)
set(CMAKE_AUTOMOC ON)

# Installed resources (layouts, the guide page) are laid out here too, so that programs run from
# the build tree find them.
set(TOLVANI_RESOURCES_BUILD_DIR ${PROJECT_BINARY_DIR}/share/tolvani)

# A folder's library: every .cpp directly in the folder (and in the given subfolders).
#   tolvani_frontend_library(<target> [SUBDIRS dir...] [LIBS lib...])
function(tolvani_frontend_library target)
  cmake_parse_arguments(ARG "" "" "SUBDIRS;LIBS" ${ARGN})
  set(globs ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(sub ${ARG_SUBDIRS})
    list(APPEND globs ${CMAKE_CURRENT_SOURCE_DIR}/${sub}/*.cpp)
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${globs})
  if(sources)
    add_library(${target} STATIC ${sources})
    set(scope PUBLIC)
  else()
    add_library(${target} INTERFACE)  # a folder whose sources are yet to come
    set(scope INTERFACE)
  endif()
  target_include_directories(${target} ${scope} ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} ${scope} ${ARG_LIBS})
endfunction()

# The test programs holding a test whose name contains one of these words; the ThreadSanitizer
# build makes only these (and the engine's tests) and runs the tests so named.
set(TOLVANI_CONCURRENT_TEST_WORDS "Concurrent|Race|Threads|ProcessWide")
add_custom_target(frontend_concurrent_tests)

# The test programs whose time goes to other processes rather than to the program's own code: a
# virtual X display with real GTK and Qt applications, GNOME Shell or Sway; the Debian package
# built and installed; scripts/run's shell scripts. The main build runs them, labelled "desktop";
# the sanitized builds neither build nor run them, since the other tests reach the same code of
# ours under the sanitizers (the engine, the controller, the settings, the parsers, the windows
# offscreen, typing through a private IBus daemon and fcitx5). The package ones take turns, as
# they share the machine's installed package, each with up to 15 minutes.
set(TOLVANI_DESKTOP_TEST_PROGRAMS
    RealApplicationTest IBusMenuWindowsTest GnomeShellTest Fcitx5DesktopTest DesktopThemesTest
    DisplayLossTest TerminationSignalTest SetupWithoutIBusTest
    PackageTest DayOfUseTest RunScriptTest RunSessionTest)
set(TOLVANI_PACKAGE_TEST_PROGRAMS PackageTest DayOfUseTest)
if(TOLVANI_SANITIZE)
  set(desktop_default OFF)
else()
  set(desktop_default ON)
endif()
option(TOLVANI_DESKTOP_TESTS "Build the tests of TOLVANI_DESKTOP_TEST_PROGRAMS" ${desktop_default})

# One test program per tests/*Test.cpp of the folder, named after the file, on a main that makes
# the Qt application (offscreen unless QT_QPA_PLATFORM says otherwise). Each test runs as its own
# ctest case without a display. Those of TOLVANI_DESKTOP_TEST_PROGRAMS are left out unless
# TOLVANI_DESKTOP_TESTS.
#   tolvani_frontend_tests(LIBS lib... [ENVIRONMENT VAR=value...])
function(tolvani_frontend_tests)
  cmake_parse_arguments(ARG "" "" "LIBS;ENVIRONMENT" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*Test.cpp)
  foreach(test ${tests})
    get_filename_component(name ${test} NAME_WE)
    set(desktop OFF)
    if(name IN_LIST TOLVANI_DESKTOP_TEST_PROGRAMS)
      set(desktop ON)
    endif()
    if(desktop AND NOT TOLVANI_DESKTOP_TESTS)
      continue()
    endif()
    add_executable(${name} ${test})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} tolvani_test_main GTest::gmock)
    target_compile_definitions(${name} PRIVATE
      TOLVANI_TEST_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}"
      TOLVANI_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    file(READ ${test} content)
    string(REGEX MATCH
           "TEST(_F|_P)?\\([A-Za-z0-9_]+,[ \t\r\n]*[A-Za-z0-9_]*(${TOLVANI_CONCURRENT_TEST_WORDS})"
           concurrent "${content}")
    if(concurrent)
      add_dependencies(frontend_concurrent_tests ${name})
    endif()
    set(properties TIMEOUT 300)
    if(name IN_LIST TOLVANI_PACKAGE_TEST_PROGRAMS)
      set(properties TIMEOUT 900 RESOURCE_LOCK tolvani_package)
    endif()
    if(desktop)
      list(APPEND properties LABELS desktop)
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES ${properties} ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${ARG_ENVIRONMENT}")
  endforeach()
endfunction()
