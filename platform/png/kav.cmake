# Platform: the PNG decoder library over libpng.
find_package(PNG REQUIRED)
kav_library(platform_png DIRS platform/png DEPS PNG::PNG)
