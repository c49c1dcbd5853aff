# Platform: the display service (monitors, work areas, modes, the screen
# saver). The contract and the null backend use nothing of the system, so the
# foundation library builds on them; the SDL2 backend is a library of its own.
find_package(SDL2 REQUIRED)
kav_library(platform_display DIRS platform/display platform/display/null DEPS Threads::Threads)
kav_library(platform_display_sdl DIRS platform/display/sdl DEPS platform_display SDL2::SDL2)
kav_test(platform_display_tests DIRS platform/display DEPS platform_display platform_display_sdl)
