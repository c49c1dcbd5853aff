# Subsystem 4: event lists, the window gate, hooks, input decoding, the
# application object, forms, timers and helper windows, over the window layer.
kav_library(vorav_app DIRS VoRav/Application2 DEPS vorav vorav_graphics platform_window)
kav_test(vorav_app_tests DIRS VoRav/Application2 DEPS vorav_app platform_window_sdl ELSEWHERE FormXvfb.*)
if(KAV_TESTS)
  # A form in a real X window through the SDL backend, driven by xdotool,
  # when xvfb-run and xdotool are installed.
  find_program(XVFB_RUN xvfb-run)
  find_program(XDOTOOL xdotool)
  if(XVFB_RUN AND XDOTOOL)
    add_test(NAME vorav_app_xvfb COMMAND ${XVFB_RUN} -a $<TARGET_FILE:vorav_app_tests> --gtest_filter=FormXvfb.*)
    # Leak checking stays with the headless run: the X client libraries keep
    # allocations of their own until exit.
    set_tests_properties(vorav_app_xvfb PROPERTIES
                         ENVIRONMENT "KAV_XVFB_TEST=1;SDL_VIDEODRIVER=x11;ASAN_OPTIONS=detect_leaks=0" TIMEOUT 120
                         RESOURCE_LOCK xvfb_run)
  endif()
endif()
