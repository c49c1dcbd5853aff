# A player test in an X server of its own (1920 x 1080), SDL on X11 with the
# dummy sound driver and `env` besides; it skips (77) without its tools. The
# server does not reset when its last client leaves: a player started while
# it resets cannot connect, and a loaded machine makes that moment long.
# Tests started through xvfb-run take turns (xvfb-run -a picks its display
# by looking for lock files, so two starting at once can pick the same one);
# other tests run beside them.
function(kav_xvfb_player_test name timeout env)
  add_test(NAME ${name} COMMAND ${XVFB_RUN} -a -s "-screen 0 1920x1080x24 -noreset" ${ARGN})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "SDL_VIDEODRIVER=x11;SDL_AUDIODRIVER=dummy;${env}"
                       SKIP_RETURN_CODE 77 TIMEOUT ${timeout} RESOURCE_LOCK xvfb_run COST ${timeout})
endfunction()

# A player test of tests/xvfb (the script kavplay_<script>.sh given the
# player, the test packer and a work folder named as the test) that starts
# X servers of its own, with SDL's dummy sound driver and `env` besides (a
# list, may be empty); it skips (77) without its tools. ARGN: more test
# properties.
function(kav_xvfb_script_test name script env timeout cost)
  set(environment "SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=0")
  if(NOT "${env}" STREQUAL "")
    list(APPEND environment ${env})
  endif()
  add_test(NAME ${name}
           COMMAND ${PROJECT_SOURCE_DIR}/tests/xvfb/kavplay_${script}.sh $<TARGET_FILE:kavplay>
                   $<TARGET_FILE:kavpack> ${CMAKE_BINARY_DIR}/${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}"
                       SKIP_RETURN_CODE 77 TIMEOUT ${timeout} COST ${cost} ${ARGN})
endfunction()

# Subsystem 7: the player's main form and start-up, and the executable.
kav_library(kav_player DIRS Kav/KavViewer DEPS kav_engine kav_music kav_process kav_objects kav_video kav_transitions
            kav_dialogs)
kav_test(kav_player_tests DIRS Kav/KavViewer DEPS kav_player platform_d3d kav_framedump kav_packer)
if(TARGET kav_player_tests)
  # The example show is packed by the kavpack program, as the README says.
  add_dependencies(kav_player_tests kavpack)
  target_compile_definitions(kav_player_tests PRIVATE KAV_KAVPACK="$<TARGET_FILE:kavpack>")
endif()
if(KAV_TESTS)
  # The shows' frames once more drawn by the GL device (headless EGL on Mesa).
  add_test(NAME kav_player_tests_gl COMMAND kav_player_tests --gtest_filter=*Slides*:*Playback*:*ExampleShow*)
  set_tests_properties(kav_player_tests_gl PROPERTIES
                       ENVIRONMENT "KAV_TEST_DEVICE=gl;SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy" TIMEOUT 300)
endif()
add_executable(kavplay ${PROJECT_SOURCE_DIR}/Kav/KavViewer/app/kavplay.cpp
                       ${PROJECT_SOURCE_DIR}/Kav/KavViewer/app/KavPresentBridge.cpp)
target_link_libraries(kavplay PRIVATE kav_player kav_navpanel platform_window_sdl platform_display_sdl platform_d3d_sdl platform_d3d_gl_sdl platform_sound_sdl
                      platform_print_cups
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
                       TIMEOUT 600)
  # No sound device (an audio driver that does not exist or cannot open):
  # the demo show plays silently on the program's clock and ends on SIGTERM.
  add_test(NAME kavplay_without_sound
           COMMAND ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_no_sound.sh $<TARGET_FILE:kavplay>
                   ${CMAKE_BINARY_DIR}/demo/demo.kvshow ${CMAKE_BINARY_DIR}/kavplay_no_sound)
  set_tests_properties(kavplay_without_sound PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0"
                       SKIP_RETURN_CODE 77 TIMEOUT 480)
  # Two players with -filelog at once: one log, every line whole and marked
  # with its player's process id.
  add_test(NAME kavplay_shared_log
           COMMAND ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_shared_log.sh $<TARGET_FILE:kavplay>
                   ${PROJECT_SOURCE_DIR}/examples/myshow ${CMAKE_BINARY_DIR}/kavplay_shared_log)
  set_tests_properties(kavplay_shared_log PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0" TIMEOUT 480)
  # A show with an author's mistakes: each is said once on stderr.
  add_test(NAME kavplay_show_problems
           COMMAND ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_show_problems.sh $<TARGET_FILE:kavplay>
                   ${PROJECT_SOURCE_DIR}/examples/myshow ${CMAKE_BINARY_DIR}/kavplay_show_problems)
  set_tests_properties(kavplay_show_problems PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0" TIMEOUT 240)
  # What an author leaves out (a GUID, a file name, a duration, the slide
  # table, an effect of the list) and a picture no decoder reads: one line
  # each, the one kavpack prints.
  add_test(NAME kavplay_left_out
           COMMAND ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_left_out.sh $<TARGET_FILE:kavplay>
                   $<TARGET_FILE:kavpack> ${PROJECT_SOURCE_DIR}/examples/myshow ${CMAKE_BINARY_DIR}/kavplay_left_out)
  set_tests_properties(kavplay_left_out PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0" TIMEOUT 600)
  # Pictures and a tune named as another kind play, from the folder and
  # packed, their sound recorded by SDL's disk driver.
  add_test(NAME kavplay_kinds
           COMMAND ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_kinds.sh $<TARGET_FILE:kavplay>
                   $<TARGET_FILE:kavpack> ${PROJECT_SOURCE_DIR}/examples/myshow ${CMAKE_BINARY_DIR}/kavplay_kinds)
  set_tests_properties(kavplay_kinds PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0"
                       SKIP_RETURN_CODE 77 TIMEOUT 480)
  # The terminal messages: usage, no show, a folder without a project.
  add_test(NAME kavplay_command_line
           COMMAND ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_cli.sh $<TARGET_FILE:kavplay>
                   ${CMAKE_BINARY_DIR}/kavplay_cli)
  set_tests_properties(kavplay_command_line PROPERTIES
                       ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=0"
                       TIMEOUT 120)
  # "cmake --install" into a temporary DESTDIR: the files are in place, the
  # desktop entry is valid, the MIME type names ".kvshow", and the installed
  # player plays the installed demo show headless and ends with 0 on SIGTERM.
  add_test(NAME kavplay_install
           COMMAND ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_install.sh ${CMAKE_COMMAND} ${CMAKE_BINARY_DIR}
                   1 ${CMAKE_BINARY_DIR}/kavplay_install)
  set_tests_properties(kavplay_install PROPERTIES
                       ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=0"
                       TIMEOUT 180)
  # The long tests from here on carry a cost (about their time-out): a run
  # with no timings of its own yet starts them first, not last, while the
  # many short ones fill the other cores.
  # Every way out of the player with the SDL dummy drivers (SIGTERM, SIGINT,
  # SIGTERM while a long text is laid out, no usable font, a show that cannot
  # be loaded): exit 0 (1 for the error), no sanitizer report, leaks included.
  add_test(NAME kavplay_ways_out
           COMMAND ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_ways_out.sh dummy $<TARGET_FILE:kavplay>
                   ${CMAKE_BINARY_DIR}/demo/demo.kvshow ${CMAKE_BINARY_DIR}/kavplay_ways_out)
  set_tests_properties(kavplay_ways_out PROPERTIES
                       ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=1"
                       SKIP_RETURN_CODE 77 TIMEOUT 600 COST 300)
  # The real program in an X server with the SDL backends: plays the demo
  # show, takes the next, pause and quit keys and exits 0.
  find_program(XVFB_RUN xvfb-run)
  find_program(XDOTOOL xdotool)
  find_program(IM_IMPORT import)
  if(XVFB_RUN AND XDOTOOL AND IM_IMPORT)
    kav_xvfb_player_test(kavplay_xvfb_end_to_end 180 "ASAN_OPTIONS=detect_leaks=0;KAV_DEVICE=gl"
                         ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_e2e.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/demo.kvshow ${CMAKE_BINARY_DIR}/kavplay_e2e)
    # The same on the software device.
    kav_xvfb_player_test(kavplay_xvfb_end_to_end_sw 180 "ASAN_OPTIONS=detect_leaks=0;KAV_DEVICE=sw"
                         ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_e2e.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/demo.kvshow ${CMAKE_BINARY_DIR}/kavplay_e2e_sw)
    # Driven as a viewer drives it: the hidden cursor, the hidden panel's
    # first movement, keys under the help dialog and a media key.
    kav_xvfb_player_test(kavplay_xvfb_input 240 "ASAN_OPTIONS=detect_leaks=0"
                         ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_input_e2e.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/show ${CMAKE_BINARY_DIR}/kavplay_input)
    # The same on the GL device (Mesa's llvmpipe, forced: chosen by itself
    # the player keeps the software device on a CPU renderer).
    kav_xvfb_player_test(kavplay_xvfb_input_gl 240 "ASAN_OPTIONS=detect_leaks=0;KAV_DEVICE=gl"
                         ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_input_e2e.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/show ${CMAKE_BINARY_DIR}/kavplay_input_gl)
    # The print dialog opened and closed 120 times (Escape) on busy cores
    # while the slide behind moves: the player lives, its memory and
    # descriptors stay flat, and Escape then reaches its window with no
    # window manager to give the focus back. On both devices. A small
    # sanitizer quarantine, and freed memory handed back to the system: the
    # quarantine's filling and the allocator's high-water mark (one busy
    # moment kept 30 MB more) would read as growth.
    kav_xvfb_player_test(kavplay_xvfb_print_rounds 600 "ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=4:allocator_release_to_os_interval_ms=500;KAV_DEVICE=sw"
                         ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_print_rounds.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/show ${CMAKE_BINARY_DIR}/kavplay_print_rounds 120)
    kav_xvfb_player_test(kavplay_xvfb_print_rounds_gl 600 "ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=4:allocator_release_to_os_interval_ms=500;KAV_DEVICE=gl"
                         ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_print_rounds.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/show ${CMAKE_BINARY_DIR}/kavplay_print_rounds_gl 120)
    set_property(TEST kavplay_xvfb_print_rounds kavplay_xvfb_print_rounds_gl APPEND PROPERTY RESOURCE_LOCK busy_loops)
    # SIGTERM and SIGINT inside modal windows (the box for a show that cannot
    # be opened, the print dialog, an error box during play): the player ends
    # and starts nothing more; after SIGKILL its box's process is gone too.
    kav_xvfb_player_test(kavplay_xvfb_signals 480 "ASAN_OPTIONS=detect_leaks=0"
                         ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_signals.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/kavplay_signals)
    # Message boxes on an 800 x 600 screen of the script's own: the box for a
    # long path lies on the screen; up to a hundred boxes (90 s) while the GL
    # device presents frames beside busy loops each come, take the keys, lie
    # on the screen and go, and the player takes keys after each; the box
    # takes the focus back from the player's window. Then under a window
    # manager (openbox, a click on the player's window; skipped without it)
    # on the software device, ten boxes.
    kav_xvfb_player_test(kavplay_xvfb_box_rounds_gl 300 "ASAN_OPTIONS=detect_leaks=0;KAV_DEVICE=gl"
                         ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_box_rounds.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/kavplay_box_rounds_gl 100 90)
    set_property(TEST kavplay_xvfb_box_rounds_gl APPEND PROPERTY RESOURCE_LOCK busy_loops)
    kav_xvfb_player_test(kavplay_xvfb_box_rounds_wm 300 "ASAN_OPTIONS=detect_leaks=0;KAV_DEVICE=sw;KAV_TEST_WM=openbox;KAV_BUSY_PER_CORE=0"
                         ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_box_rounds.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/kavplay_box_rounds_wm 10 90)
    # Programs a show starts: named wrappers and ffmpeg refused with the
    # reason, "show" for a show's folder but not beside a packed show, a
    # program named by its path asked for by that path, a packed show's
    # document from its package (never from beside it), and arguments that
    # only resemble an interpreter's name passed on.
    kav_xvfb_player_test(kavplay_xvfb_programs 300 "ASAN_OPTIONS=detect_leaks=0"
                         ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_programs.sh $<TARGET_FILE:kavplay> $<TARGET_FILE:kavpack> ${CMAKE_BINARY_DIR}/kavplay_programs)
    # Every way out in an X server: the window manager's close request (also
    # repeated, with keys queued behind it), Esc, a double click bound to
    # Exit, SIGTERM, and the X connection killed.
    find_package(X11 QUIET)  # kavxclose (tools/xclose) is built with it
    if(X11_FOUND)
      kav_xvfb_player_test(kavplay_xvfb_ways_out 600 "ASAN_OPTIONS=detect_leaks=1;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_x11.supp"
                           ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_ways_out.sh x11 $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/demo.kvshow ${CMAKE_BINARY_DIR}/kavplay_xvfb_ways_out $<TARGET_FILE:kavxclose>)
      kav_xvfb_player_test(kavplay_xvfb_ways_out_gl 600 "ASAN_OPTIONS=detect_leaks=1;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_x11_gl.supp;KAV_DEVICE=gl"
                           ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_ways_out.sh x11 $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/demo.kvshow ${CMAKE_BINARY_DIR}/kavplay_xvfb_ways_out_gl $<TARGET_FILE:kavxclose>)
      # The print dialog: a print button of the show opens it over the paused
      # show; Save without a desktop chooser writes the slide into the
      # pictures folder, Print reaches a CUPS scheduler of the test's own; a
      # close request meanwhile is refused.
      kav_xvfb_player_test(kavplay_xvfb_print_dialog 300 "ASAN_OPTIONS=detect_leaks=0"
                           ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_print_e2e.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/show ${CMAKE_BINARY_DIR}/kavplay_print $<TARGET_FILE:kavtestcups> $<TARGET_FILE:kavxclose>)
      kav_xvfb_player_test(kavplay_xvfb_print_dialog_gl 300 "ASAN_OPTIONS=detect_leaks=0;KAV_DEVICE=gl"
                           ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_print_e2e.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/show ${CMAKE_BINARY_DIR}/kavplay_print_gl $<TARGET_FILE:kavtestcups> $<TARGET_FILE:kavxclose>)
      # A scheduler that answers a byte every 2 s: Change Printer and Print
      # each end within their deadline with the error box.
      kav_xvfb_player_test(kavplay_xvfb_print_silent 300 "ASAN_OPTIONS=detect_leaks=0"
                           ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_print_silent_e2e.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/show ${CMAKE_BINARY_DIR}/kavplay_print_silent $<TARGET_FILE:kavtestcups>)
      # Change Printer with 63 queues on a 1024 x 768 screen: the choice lies
      # on the screen, the last printer can be chosen and printed on.
      add_test(NAME kavplay_xvfb_change_printer
               COMMAND ${XVFB_RUN} -a -s "-screen 0 1024x768x24 -noreset"
                       ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_change_printer_e2e.sh $<TARGET_FILE:kavplay>
                       ${CMAKE_BINARY_DIR}/demo/show ${CMAKE_BINARY_DIR}/kavplay_change_printer $<TARGET_FILE:kavtestcups>)
      set_tests_properties(kavplay_xvfb_change_printer PROPERTIES
                           ENVIRONMENT "SDL_VIDEODRIVER=x11;SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=0"
                           SKIP_RETURN_CODE 77 TIMEOUT 300 RESOURCE_LOCK xvfb_run COST 300)
      # A desktop portal that takes the request and never answers: the
      # window paints meanwhile; Esc, and the window manager's close of the
      # player's window, call it off at once.
      kav_xvfb_player_test(kavplay_xvfb_save_portal 300 "ASAN_OPTIONS=detect_leaks=0"
                           ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_save_portal_e2e.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/show ${CMAKE_BINARY_DIR}/kavplay_save_portal $<TARGET_FILE:kavtestportal> $<TARGET_FILE:kavxclose>)
      # The print dialog, the Printer dialog over it, the error box and
      # zenity's chooser stay above the player's window when it gets the
      # focus, and take the keys; a portal that leaves after taking the
      # request is given up at once.
      kav_xvfb_player_test(kavplay_xvfb_dialog_above 600 "ASAN_OPTIONS=detect_leaks=0"
                           ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_dialog_above_e2e.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/show ${CMAKE_BINARY_DIR}/kavplay_dialog_above $<TARGET_FILE:kavtestportal> $<TARGET_FILE:kavtestcups>)
      kav_xvfb_player_test(kavplay_xvfb_dialog_above_gl 600 "ASAN_OPTIONS=detect_leaks=0;KAV_DEVICE=gl"
                           ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_dialog_above_e2e.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/show ${CMAKE_BINARY_DIR}/kavplay_dialog_above_gl $<TARGET_FILE:kavtestportal> $<TARGET_FILE:kavtestcups>)
      # The same under a click-to-focus window manager (skipped without openbox).
      kav_xvfb_player_test(kavplay_xvfb_dialog_above_wm 600 "ASAN_OPTIONS=detect_leaks=0;KAV_TEST_WM=openbox"
                           ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_dialog_above_e2e.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/show ${CMAKE_BINARY_DIR}/kavplay_dialog_above_wm $<TARGET_FILE:kavtestportal> $<TARGET_FILE:kavtestcups>)
      # The same with a portal that does not even reply to the call; once
      # the call's time is up the slide is not saved anywhere nobody chose.
      kav_xvfb_player_test(kavplay_xvfb_save_portal_mute 360 "ASAN_OPTIONS=detect_leaks=0"
                           ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_save_portal_e2e.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/show ${CMAKE_BINARY_DIR}/kavplay_save_portal_mute $<TARGET_FILE:kavtestportal> $<TARGET_FILE:kavxclose> mute)
      # Save through zenity (the only chooser on PATH): one chooser tied to a
      # window of the player's, keys at the print dialog meanwhile ignored.
      kav_xvfb_player_test(kavplay_xvfb_save_chooser 300 "ASAN_OPTIONS=detect_leaks=0"
                           ${PROJECT_SOURCE_DIR}/tests/Kav/KavViewer/kavplay_save_chooser_e2e.sh $<TARGET_FILE:kavplay> ${CMAKE_BINARY_DIR}/demo/show ${CMAKE_BINARY_DIR}/kavplay_save_chooser)
    endif()
  endif()
  # The player on colour shows in X servers of their own (tests/xvfb: the
  # harness starts Xvfb at each screen size, makes the show with the test
  # packer and reads screenshots): full screen at three screen sizes, a
  # window resized to other shapes, a still slide's window mapped again,
  # many full-screen starts while the loader prepares large pictures,
  # mosaics of the largest grids, and a broken photo's placeholder, a long
  # caption's sharp letters and a caption's letters where HarfBuzz places
  # them (pictures_captions).
  # They skip (77) without the tools.
  find_program(XVFB Xvfb)
  if(XVFB AND XDOTOOL AND IM_IMPORT)
    # Each runs once on the software device and once on the GL device. The
    # limits here and below are several times what a machine loaded
    # 50 on 8 cores takes: a limit is for a hang, not for a slow machine.
    foreach(case fullscreen resize expose fullscreen_starts pictures_captions)
      foreach(device sw gl)
        set(name kavplay_xvfb_${case})
        if(device STREQUAL gl)
          set(name ${name}_gl)
        endif()
        kav_xvfb_script_test(${name} ${case} "KAV_DEVICE=${device}" 480 240)
      endforeach()
    endforeach()
    # The music pauses with the show (Space on a still slide, in a transition,
    # before the join of two tunes; 2 s and 10 s) and comes back in step,
    # heard through SDL's "disk" audio driver, from the package and the folder;
    # the demo's free-running music held by Space and by its help dialog.
    add_test(NAME kavplay_xvfb_music_pause
             COMMAND ${PROJECT_SOURCE_DIR}/tests/xvfb/kavplay_music_pause.sh $<TARGET_FILE:kavplay>
                     $<TARGET_FILE:kavpack> ${CMAKE_BINARY_DIR}/kavplay_xvfb_music_pause ${CMAKE_BINARY_DIR}/demo/show)
    set_tests_properties(kavplay_xvfb_music_pause PROPERTIES
                         ENVIRONMENT "SDL_AUDIODRIVER=disk;ASAN_OPTIONS=detect_leaks=0"
                         SKIP_RETURN_CODE 77 TIMEOUT 900 COST 200)
    # A small package whose tunes inflate to 15 GiB each (zeros, and a WAV
    # of hours of silence): slide 1 comes without the player reading them
    # through, and SIGTERM or SIGINT at any moment of the start ends it.
    add_test(NAME kavplay_xvfb_large_entry
             COMMAND ${PROJECT_SOURCE_DIR}/tests/xvfb/kavplay_large_entry.sh $<TARGET_FILE:kavplay>
                     $<TARGET_FILE:kavpack> $<TARGET_FILE:kavbigentry> ${CMAKE_BINARY_DIR}/kavplay_xvfb_large_entry)
    set_tests_properties(kavplay_xvfb_large_entry PROPERTIES
                         ENVIRONMENT "SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=0"
                         SKIP_RETURN_CODE 77 TIMEOUT 600 COST 200)
    # Mosaics of the largest grids play, and SIGTERM ends them, on both devices.
    foreach(device sw gl)
      kav_xvfb_script_test(kavplay_xvfb_mosaic_${device} mosaic "KAV_DEVICE=${device}" 240 240)
    endforeach()
    # Still slides started on busy cores, full screen and in a window by
    # turns, and their windows unmapped and mapped again: never left black
    # (a still slide's frame comes once). On both devices.
    foreach(device sw gl)
      set(name kavplay_xvfb_still_starts)
      if(device STREQUAL gl)
        set(name ${name}_gl)
      endif()
      # The tests that bring busy loops of their own run one at a time: two
      # of them side by side would load each core twice as much as each test
      # is meant to.
      kav_xvfb_script_test(${name} still_starts "KAV_DEVICE=${device};KAV_STILL_STARTS=24" 600 300
                           RESOURCE_LOCK busy_loops)
    endforeach()
    # A show without a slide count, whose slide stands at one time, played
    # again and again from its folder and its package on busy cores: every
    # play shows its caption and its pictures' shadows, which the image-task
    # worker makes after the slide's first layout. On both devices.
    foreach(device sw gl)
      set(name kavplay_xvfb_captions_kept)
      if(device STREQUAL gl)
        set(name ${name}_gl)
      endif()
      kav_xvfb_script_test(${name} captions_kept "KAV_DEVICE=${device}" 600 200 RESOURCE_LOCK busy_loops)
    endforeach()
    # An X server that refuses the OpenGL context, and a title beyond ASCII.
    kav_xvfb_script_test(kavplay_xvfb_window_start window_start "" 240 240)
    # A session bus that takes connections and never answers: the window
    # still comes, and a signal during the wait at start ends the player.
    kav_xvfb_script_test(kavplay_xvfb_hung_bus hung_bus "" 300 120)
    # A few hundred random keys, clicks, drags and wheel steps on the demo
    # show from a fixed seed (KAV_RANDOM_SEED picks another), in rounds that
    # end on Esc, the exit corner and SIGTERM: no crash, no sanitizer
    # report, no hang, exit 0 each time.
    add_test(NAME kavplay_xvfb_random_input
             COMMAND ${PROJECT_SOURCE_DIR}/tests/xvfb/kavplay_random_input.sh $<TARGET_FILE:kavplay>
                     ${CMAKE_BINARY_DIR}/demo/demo.kvshow ${CMAKE_BINARY_DIR}/kavplay_random_input)
    set_tests_properties(kavplay_xvfb_random_input PROPERTIES
                         ENVIRONMENT "SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1"
                         SKIP_RETURN_CODE 77 TIMEOUT 600 COST 1000)
  endif()
  # No display and no headless driver asked for: a message and a non-zero
  # exit, not a show played unseen.
  add_test(NAME kavplay_no_display
           COMMAND ${PROJECT_SOURCE_DIR}/tests/xvfb/kavplay_nodisplay.sh $<TARGET_FILE:kavplay>
                   ${CMAKE_BINARY_DIR}/demo/demo.kvshow ${CMAKE_BINARY_DIR}/kavplay_no_display)
  set_tests_properties(kavplay_no_display PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0" TIMEOUT 300)
endif()

# Installing: the player (and the show packer where this build has one), a
# desktop entry that opens ".kvshow" files with the player, their MIME type,
# the icons of both, and the demo show when it was built ("cmake --install
# <build>").
include(GNUInstallDirs)
install(TARGETS kavplay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/Kav/KavViewer/app/kavplay-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME kavplay.xml)
install(FILES ${CMAKE_BINARY_DIR}/demo/demo.kvshow DESTINATION ${CMAKE_INSTALL_DATADIR}/kavplay OPTIONAL)
# Our own icons: the player's (named by the desktop entry) and the show
# files' (named by the MIME type).
install(FILES ${PROJECT_SOURCE_DIR}/Kav/KavViewer/app/icons/kavplay.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/Kav/KavViewer/app/icons/application-x-kav-show.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/mimetypes)
# The desktop entry starts the player by its full installed path, which is
# known only at install time ("cmake --install --prefix" may change it).
install(CODE "set(KAV_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(KAV_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
  set(KAV_DESKTOP_IN \"${PROJECT_SOURCE_DIR}/Kav/KavViewer/app/kavplay.desktop.in\")
  set(KAV_DESKTOP \"${CMAKE_BINARY_DIR}/install/kavplay.desktop\")")
install(CODE [[
  if(IS_ABSOLUTE "${KAV_BINDIR}")
    set(KAV_PLAYER_PATH "${KAV_BINDIR}/kavplay")
  else()
    set(KAV_PLAYER_PATH "${CMAKE_INSTALL_PREFIX}/${KAV_BINDIR}/kavplay")
  endif()
  configure_file("${KAV_DESKTOP_IN}" "${KAV_DESKTOP}" @ONLY)
  file(INSTALL "${KAV_DESKTOP}" DESTINATION "${CMAKE_INSTALL_PREFIX}/${KAV_DATADIR}/applications")
]])
# A direct install (no DESTDIR staging) refreshes the MIME and desktop
# databases of its prefix, so that file managers know the new type at once.
install(CODE [[
  if("$ENV{DESTDIR}" STREQUAL "")
    find_program(KAV_UPDATE_MIME update-mime-database)
    find_program(KAV_UPDATE_DESKTOP update-desktop-database)
    if(KAV_UPDATE_MIME)
      execute_process(COMMAND ${KAV_UPDATE_MIME} "${CMAKE_INSTALL_PREFIX}/${KAV_DATADIR}/mime")
    endif()
    if(KAV_UPDATE_DESKTOP)
      execute_process(COMMAND ${KAV_UPDATE_DESKTOP} "${CMAKE_INSTALL_PREFIX}/${KAV_DATADIR}/applications")
    endif()
  endif()
]])
# kavpack installs itself (tools/packer/kav.cmake).
# "cmake --build <build> --target uninstall" takes the last install of this
# build out again and refreshes the databases (scripts/uninstall.cmake).
add_custom_target(uninstall
                  COMMAND ${CMAKE_COMMAND} -DKAV_MANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
                          -P ${PROJECT_SOURCE_DIR}/scripts/uninstall.cmake
                  VERBATIM)
