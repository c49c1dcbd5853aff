# Subsystem 3: bitmaps, pixel formats, converters, image stores and decoders.
# The packed graphics container's payload is raw deflate data (zlib).
find_package(ZLIB REQUIRED)
kav_library(vorav_graphics DIRS VoRav/Graphics DEPS vorav platform_png ZLIB::ZLIB)
kav_test(graphics_tests DIRS VoRav/Graphics DEPS vorav_graphics kav_fuzz)
