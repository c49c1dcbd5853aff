# Platform: the desktop's file-save chooser (the XDG portal over D-Bus through
# libdbus, zenity, kdialog, the pictures folder) and a fake for tests.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KAV_DBUS REQUIRED IMPORTED_TARGET dbus-1)
kav_library(platform_dialogs DIRS platform/dialogs DEPS PkgConfig::KAV_DBUS Threads::Threads)
kav_test(platform_dialogs_tests DIRS platform/dialogs DEPS platform_dialogs vorav PkgConfig::KAV_DBUS)
if(KAV_TESTS)
  # A portal that never answers, on a private bus, for the player's test in
  # an X server.
  add_executable(kavtestportal ${PROJECT_SOURCE_DIR}/tests/tools/kavtestportal.cpp)
  target_include_directories(kavtestportal PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(kavtestportal PRIVATE platform_dialogs vorav PkgConfig::KAV_DBUS)
endif()
