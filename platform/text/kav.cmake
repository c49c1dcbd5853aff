# Platform: the GDI-text subset over fontconfig, FreeType, FriBidi and HarfBuzz.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KAV_TEXT_LIBS REQUIRED IMPORTED_TARGET fontconfig freetype2 fribidi harfbuzz)
kav_library(platform_text DIRS platform/text DEPS vorav PkgConfig::KAV_TEXT_LIBS)
kav_test(platform_text_tests DIRS platform/text DEPS platform_text)
