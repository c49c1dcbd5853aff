# Subsystem 7: the dialogs through which a slide is printed or saved; the
# file-save dialog asks the desktop's chooser (platform/dialogs).
kav_library(kav_dialogs DIRS KavLib2/KavDialogs DEPS vorav_app vorav_graphics vorav_composite kav_viewer kav_print platform_dialogs platform_window)
find_package(PNG REQUIRED)
kav_test(kav_dialogs_tests DIRS KavLib2/KavDialogs DEPS kav_dialogs platform_print_cups vorav_composite vorav_colorspace platform_window_sdl PNG::PNG
         ELSEWHERE SaveDialogXvfb.*)
if(KAV_TESTS)
  # The save dialog through the real zenity in an X server, driven by
  # xdotool; the test skips by itself without zenity or xdotool. The server
  # (xvfb-run's usual screen) does not reset between the zenity runs.
  find_program(XVFB_RUN xvfb-run)
  if(XVFB_RUN)
    add_test(NAME kav_dialogs_xvfb_zenity
             COMMAND ${XVFB_RUN} -a -s "-screen 0 1280x1024x24 -noreset" $<TARGET_FILE:kav_dialogs_tests>
                     --gtest_filter=SaveDialogXvfb.*)
    set_tests_properties(kav_dialogs_xvfb_zenity PROPERTIES
                         ENVIRONMENT "KAV_XVFB_TEST=1;ASAN_OPTIONS=detect_leaks=1" TIMEOUT 300
                         RESOURCE_LOCK xvfb_run)
  endif()
endif()
