# Platform: the window and message layer with its null backend; the SDL2
# backend is a library of its own.
find_package(SDL2 REQUIRED)
find_package(PNG REQUIRED)
kav_library(platform_window DIRS platform/window platform/window/null DEPS vorav Threads::Threads)
kav_library(platform_window_sdl DIRS platform/window/sdl DEPS platform_window SDL2::SDL2 PNG::PNG ${CMAKE_DL_LIBS})
kav_test(platform_window_tests DIRS platform/window DEPS platform_window platform_window_sdl)
