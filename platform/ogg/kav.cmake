# Platform: the Ogg Vorbis decoder plug-in over libvorbisfile.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VORBISFILE REQUIRED IMPORTED_TARGET vorbisfile)
kav_library(platform_ogg DIRS platform/ogg DEPS platform_sound PkgConfig::VORBISFILE)
