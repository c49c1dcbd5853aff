# Platform: the media library (video and audio decoding) over libavformat,
# libavcodec, libswscale and libavutil, linked in; and its binding.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBAV REQUIRED IMPORTED_TARGET libavformat libavcodec libswscale libavutil)
kav_library(platform_media DIRS platform/media DEPS vorav PkgConfig::LIBAV)
kav_test(platform_media_tests DIRS platform/media DEPS platform_media)
