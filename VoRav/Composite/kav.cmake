# Subsystem 8: the frame-control toolkit (event lists of controls, the
# control tree, frames and the window surface, control styles and theme
# services), over the application layer and the visual-styles module.
kav_library(vorav_composite DIRS VoRav/Composite DEPS vorav_app vorav_graphics vorav_wintext platform_theme)
find_package(PNG REQUIRED)
kav_test(vorav_composite_tests DIRS VoRav/Composite DEPS vorav_composite platform_window_sdl PNG::PNG)
