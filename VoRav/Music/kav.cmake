# Subsystem 6: audio decoding (media information, converters, decoder
# plug-ins) and output (timer channel, streaming buffers, channels).
find_package(PkgConfig REQUIRED)
pkg_check_modules(MPG123 REQUIRED IMPORTED_TARGET libmpg123)
kav_library(vorav_music DIRS VoRav/Music DEPS vorav vorav_app platform_sound platform_ogg platform_wma platform_media PkgConfig::MPG123)
kav_test(vorav_music_tests DIRS VoRav/Music DEPS vorav_music)
