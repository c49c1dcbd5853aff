# Platform: the DirectSound-subset mixer with its null device (a clock of
# the caller's); the SDL2 audio device is a library of its own.
find_package(SDL2 REQUIRED)
find_package(ALSA REQUIRED)
kav_library(platform_sound DIRS platform/sound platform/sound/null DEPS vorav Threads::Threads)
kav_library(platform_sound_sdl DIRS platform/sound/sdl DEPS platform_sound SDL2::SDL2 ALSA::ALSA)
kav_test(platform_sound_tests DIRS platform/sound DEPS platform_sound platform_sound_sdl)
