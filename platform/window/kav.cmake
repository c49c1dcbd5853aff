# Platform: the window and message layer with its null backend; the SDL2
# backend is a library of its own.
find_package(SDL2 REQUIRED)
find_package(PNG REQUIRED)
kav_library(platform_window DIRS platform/window platform/window/null DEPS vorav Threads::Threads)
kav_library(platform_window_sdl DIRS platform/window/sdl DEPS platform_window SDL2::SDL2 PNG::PNG ${CMAKE_DL_LIBS})
kav_test(platform_window_tests DIRS platform/window DEPS platform_window platform_window_sdl
         ELSEWHERE SdlMessageBoxX11.* SdlClipboardX11.* SdlX11Backend.*)
if(KAV_TESTS)
  # The box program the window tests show their boxes with (the player is
  # its own).
  add_executable(kavtestbox ${PROJECT_SOURCE_DIR}/tests/tools/kavtestbox.cpp)
  target_link_libraries(kavtestbox PRIVATE platform_window_sdl)
  add_dependencies(platform_window_tests kavtestbox)
  # The message box's title read on a virtual X server, in a UTF-8 locale
  # and in the "C" locale (the box's process takes the run's locale).
  find_library(XCB_LIBRARY xcb)
  if(XCB_LIBRARY)
    target_link_libraries(platform_window_tests PRIVATE ${XCB_LIBRARY})
  endif()
  find_program(XVFB_RUN xvfb-run)
  if(XVFB_RUN AND XCB_LIBRARY)
    foreach(locale IN ITEMS utf8 c)
      if(locale STREQUAL "utf8")
        set(locale_env "LANG=C.UTF-8;LC_ALL=C.UTF-8")
      else()
        set(locale_env "LANG=C;LC_ALL=C")
      endif()
      add_test(NAME platform_window_x11_box_${locale}
               COMMAND ${XVFB_RUN} -a -s "-screen 0 640x480x24 -noreset" $<TARGET_FILE:platform_window_tests>
                       --gtest_filter=SdlMessageBoxX11.*)
      set_tests_properties(platform_window_x11_box_${locale} PROPERTIES
                           ENVIRONMENT "SDL_VIDEODRIVER=x11;KAV_X11_BOX_TEST=1;KAV_BOX_PROGRAM=$<TARGET_FILE:kavtestbox>;${locale_env};ASAN_OPTIONS=detect_leaks=0"
                           TIMEOUT 180 RESOURCE_LOCK xvfb_run)
    endforeach()
  endif()
  # The X11 clipboard against xclip on a virtual X server.
  find_program(XVFB_RUN xvfb-run)
  find_program(XCLIP xclip)
  if(XVFB_RUN AND XCLIP)
    add_test(NAME platform_window_x11_clipboard
             COMMAND ${XVFB_RUN} -a -s "-screen 0 640x480x24 -noreset" $<TARGET_FILE:platform_window_tests>
                     --gtest_filter=SdlClipboardX11.*)
    set_tests_properties(platform_window_x11_clipboard PROPERTIES
                         ENVIRONMENT "SDL_VIDEODRIVER=x11;KAV_X11_CLIPBOARD_TEST=1;ASAN_OPTIONS=detect_leaks=0"
                         TIMEOUT 180 RESOURCE_LOCK xvfb_run)
  endif()
  # The backend's X errors, wake-ups and keyboard focus on a virtual X
  # server without a window manager.
  if(XVFB_RUN)
    add_test(NAME platform_window_x11_backend
             COMMAND ${XVFB_RUN} -a -s "-screen 0 640x480x24 -noreset" $<TARGET_FILE:platform_window_tests>
                     --gtest_filter=SdlX11Backend.*)
    set_tests_properties(platform_window_x11_backend PROPERTIES
                         ENVIRONMENT "SDL_VIDEODRIVER=x11;KAV_X11_BACKEND_TEST=1;ASAN_OPTIONS=detect_leaks=0"
                         TIMEOUT 180 RESOURCE_LOCK xvfb_run)
  endif()
endif()
