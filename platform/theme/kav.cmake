# Platform: the visual-styles module ("uxtheme.dll" by its entry names) that
# draws the program's own style with the vector rasterizer.
find_package(PNG REQUIRED)
kav_library(platform_theme DIRS platform/theme DEPS vorav_vector vorav_graphics platform_window)
kav_test(platform_theme_tests DIRS platform/theme DEPS platform_theme PNG::PNG)
