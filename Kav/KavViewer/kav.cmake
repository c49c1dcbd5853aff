# Subsystem 7: the player's main form and start-up, and the executable.
kav_library(kav_player DIRS Kav/KavViewer DEPS kav_engine kav_music kav_process kav_objects kav_video kav_transitions)
kav_test(kav_player_tests DIRS Kav/KavViewer DEPS kav_player platform_d3d kav_framedump kav_packer)
add_executable(kavplay ${PROJECT_SOURCE_DIR}/Kav/KavViewer/app/kavplay.cpp
                       ${PROJECT_SOURCE_DIR}/Kav/KavViewer/app/KavPresentBridge.cpp)
target_link_libraries(kavplay PRIVATE kav_player kav_navpanel platform_window_sdl platform_display_sdl platform_d3d_sdl platform_sound_sdl
                      vorav_colorspace)
if(KAV_TESTS)
  # Hostile and damaged shows: an error and a non-zero exit, or a clean end
  # on SIGTERM; never a crash, a sanitizer report or a hang.
  add_test(NAME kavplay_hostile_shows
           COMMAND ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_hostile.sh $<TARGET_FILE:kavplay>
                   ${CMAKE_BINARY_DIR}/demo/demo.kvshow ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus
                   ${CMAKE_BINARY_DIR}/kavplay_hostile)
  set_tests_properties(kavplay_hostile_shows PROPERTIES
                       ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=0"
                       TIMEOUT 120)
  # Every way out of the player with the SDL dummy drivers (SIGTERM, SIGINT,
  # SIGTERM while a long text is laid out, no usable font, a show that cannot
  # be loaded): exit 0 (1 for the error), no sanitizer report, leaks included.
  add_test(NAME kavplay_ways_out
           COMMAND ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_ways_out.sh dummy $<TARGET_FILE:kavplay>
                   ${CMAKE_BINARY_DIR}/demo/demo.kvshow ${CMAKE_BINARY_DIR}/kavplay_ways_out)
  set_tests_properties(kavplay_ways_out PROPERTIES
                       ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=1"
                       SKIP_RETURN_CODE 77 TIMEOUT 600 RUN_SERIAL TRUE)
  # The real program in an X server with the SDL backends: plays the demo
  # show, takes the next, pause and quit keys and exits 0.
  find_program(XVFB_RUN xvfb-run)
  find_program(XDOTOOL xdotool)
  find_program(IM_IMPORT import)
  if(XVFB_RUN AND XDOTOOL AND IM_IMPORT)
    add_test(NAME kavplay_xvfb_end_to_end
             COMMAND ${XVFB_RUN} -a -s "-screen 0 1920x1080x24"
                     ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_e2e.sh $<TARGET_FILE:kavplay>
                     ${CMAKE_BINARY_DIR}/demo/demo.kvshow ${CMAKE_BINARY_DIR}/kavplay_e2e)
    set_tests_properties(kavplay_xvfb_end_to_end PROPERTIES
                         ENVIRONMENT "SDL_VIDEODRIVER=x11;SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=0"
                         SKIP_RETURN_CODE 77 TIMEOUT 60 RUN_SERIAL TRUE)
    # Every way out in an X server: the window manager's close request (also
    # repeated, with keys queued behind it), Esc, a double click bound to
    # Exit, SIGTERM, and the X connection killed.
    find_package(X11 QUIET)  # kavxclose (tools/xclose) is built with it
    if(X11_FOUND)
      add_test(NAME kavplay_xvfb_ways_out
               COMMAND ${XVFB_RUN} -a -s "-screen 0 1920x1080x24"
                       ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_ways_out.sh x11 $<TARGET_FILE:kavplay>
                       ${CMAKE_BINARY_DIR}/demo/demo.kvshow ${CMAKE_BINARY_DIR}/kavplay_xvfb_ways_out
                       $<TARGET_FILE:kavxclose>)
      set_tests_properties(kavplay_xvfb_ways_out PROPERTIES
                           ENVIRONMENT "SDL_VIDEODRIVER=x11;SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=1;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_x11.supp"
                           SKIP_RETURN_CODE 77 TIMEOUT 600 RUN_SERIAL TRUE)
    endif()
  endif()
endif()
