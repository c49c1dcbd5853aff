# Subsystem 6: the show's music description, composite audio, and the music
# loader and player threads.
kav_library(kav_music DIRS KavLib2/KavMusic DEPS vorav_music kav_classes kav_engine)
kav_test(kav_music_tests DIRS KavLib2/KavMusic DEPS kav_music platform_sound_sdl)
