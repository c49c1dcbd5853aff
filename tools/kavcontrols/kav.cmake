# The frame-control gallery: every gallery control in both looks in one
# frame form; --dump writes the surface as a PNG (headless with SDL's dummy
# driver), and the Xvfb tests drive a real window with xdotool.
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
  find_program(XVFB_RUN xvfb-run)
  find_program(XDOTOOL xdotool)
  find_program(IM_IMPORT import)
  # A gallery test in a real window: tests/tools/<script> gets the program
  # and a work folder.
  function(kav_gallery_xvfb_test name script)
    add_test(NAME ${name}
             COMMAND ${XVFB_RUN} -a -s "-screen 0 1280x800x24 -noreset"
                     ${PROJECT_SOURCE_DIR}/tests/tools/${script} $<TARGET_FILE:kavcontrols>
                     ${CMAKE_BINARY_DIR}/${name})
    set_tests_properties(${name} PROPERTIES
                         ENVIRONMENT "SDL_VIDEODRIVER=x11;SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=0"
                         SKIP_RETURN_CODE 77 TIMEOUT 120 RESOURCE_LOCK xvfb_run)
  endfunction()
  if(XVFB_RUN AND XDOTOOL AND IM_IMPORT)
    # A click reaches the tree, a resize repaints every pixel.
    kav_gallery_xvfb_test(kavcontrols_xvfb_click_resize kavcontrols_xvfb.sh)
    # A real drag: xdotool moves the scroll bars' thumbs.
    kav_gallery_xvfb_test(kavcontrols_xvfb_scroll kavcontrols_xvfb_scroll.sh)
    # Tab and Shift+Tab move the focus ring from control to control.
    kav_gallery_xvfb_test(kavcontrols_xvfb_tab kavcontrols_xvfb_tab.sh)
  endif()
  if(XVFB_RUN AND XDOTOOL)
    # A real keyboard: Space on the focused push button clicks it.
    kav_gallery_xvfb_test(kavcontrols_xvfb_space kavcontrols_xvfb_space.sh)
    # A click on a tab of each look selects its page.
    kav_gallery_xvfb_test(kavcontrols_xvfb_tabs kavcontrols_xvfb_tabs.sh)
    # A click on a check box changes its state.
    kav_gallery_xvfb_test(kavcontrols_xvfb_checkbox kavcontrols_xvfb_checkbox.sh)
  endif()
endif()
