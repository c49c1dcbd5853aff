# The frame-control gallery: every gallery control in both looks in one
# frame form; --dump writes the surface as a PNG (headless with SDL's dummy
# driver), and the Xvfb test clicks and resizes a real window.
add_executable(kavcontrols ${PROJECT_SOURCE_DIR}/tools/kavcontrols/kavcontrols.cpp
                           ${PROJECT_SOURCE_DIR}/tools/kavcontrols/GalleryControls.cpp)
target_include_directories(kavcontrols PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(kavcontrols PRIVATE vorav_composite platform_window_sdl PNG::PNG)
