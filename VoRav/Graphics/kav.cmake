# Subsystem 3: bitmaps, pixel formats, converters and decoders.
kav_library(vorav_graphics DIRS VoRav/Graphics DEPS vorav)
kav_test(graphics_tests DIRS VoRav/Graphics DEPS vorav_graphics)
