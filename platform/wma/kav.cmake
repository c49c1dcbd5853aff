# Platform: the WMA decoder plug-in over libavformat and libavcodec.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBAV_WMA REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)
kav_library(platform_wma DIRS platform/wma DEPS platform_sound PkgConfig::LIBAV_WMA)
