# The frame-control gallery: every gallery control in both looks in one
# frame form; --dump writes the surface as a PNG (headless with SDL's dummy
# driver), and the Xvfb test clicks and resizes a real window.
add_executable(kavcontrols ${PROJECT_SOURCE_DIR}/tools/kavcontrols/kavcontrols.cpp
                           ${PROJECT_SOURCE_DIR}/tools/kavcontrols/GalleryControls.cpp)
target_include_directories(kavcontrols PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(kavcontrols PRIVATE vorav_composite platform_window_sdl PNG::PNG)
if(KAV_TESTS)
  # Headless: the surface written as a PNG with SDL's dummy driver.
  add_test(NAME kavcontrols_dump
           COMMAND ${PROJECT_SOURCE_DIR}/tests/tools/kavcontrols_dump.sh $<TARGET_FILE:kavcontrols>
                   ${CMAKE_BINARY_DIR}/kavcontrols_dump)
  set_tests_properties(kavcontrols_dump PROPERTIES
                       ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy" TIMEOUT 120)
  # A real window: a click reaches the tree, a resize repaints every pixel.
  find_program(XVFB_RUN xvfb-run)
  find_program(XDOTOOL xdotool)
  find_program(IM_IMPORT import)
  if(XVFB_RUN AND XDOTOOL AND IM_IMPORT)
    add_test(NAME kavcontrols_xvfb_click_resize
             COMMAND ${XVFB_RUN} -a -s "-screen 0 1280x800x24"
                     ${PROJECT_SOURCE_DIR}/tests/tools/kavcontrols_xvfb.sh $<TARGET_FILE:kavcontrols>
                     ${CMAKE_BINARY_DIR}/kavcontrols_xvfb)
    set_tests_properties(kavcontrols_xvfb_click_resize PROPERTIES
                         ENVIRONMENT "SDL_VIDEODRIVER=x11;SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=0"
                         SKIP_RETURN_CODE 77 TIMEOUT 120 RUN_SERIAL TRUE)
    # A click on a check box changes its state.
    add_test(NAME kavcontrols_xvfb_checkbox
             COMMAND ${XVFB_RUN} -a -s "-screen 0 1280x800x24"
                     ${PROJECT_SOURCE_DIR}/tests/tools/kavcontrols_xvfb_checkbox.sh $<TARGET_FILE:kavcontrols>
                     ${CMAKE_BINARY_DIR}/kavcontrols_xvfb_checkbox)
    set_tests_properties(kavcontrols_xvfb_checkbox PROPERTIES
                         ENVIRONMENT "SDL_VIDEODRIVER=x11;SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=0"
                         SKIP_RETURN_CODE 77 TIMEOUT 120 RUN_SERIAL TRUE)
  endif()
endif()
