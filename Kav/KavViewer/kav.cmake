# Subsystem 7: the player's main form and start-up, and the executable.
kav_library(kav_player DIRS Kav/KavViewer DEPS kav_engine kav_music kav_process kav_objects kav_video kav_transitions)
kav_test(kav_player_tests DIRS Kav/KavViewer DEPS kav_player platform_d3d kav_framedump kav_packer)
add_executable(kavplay ${PROJECT_SOURCE_DIR}/Kav/KavViewer/app/kavplay.cpp
                       ${PROJECT_SOURCE_DIR}/Kav/KavViewer/app/KavPresentBridge.cpp)
target_link_libraries(kavplay PRIVATE kav_player platform_window_sdl platform_display_sdl platform_d3d_sdl platform_sound_sdl
                      vorav_colorspace)
