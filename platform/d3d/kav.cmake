# Platform: the software Direct3D-9-subset device with its offscreen sink
# (PNG dumps); the SDL2 sink is a library of its own.
find_package(PNG REQUIRED)
find_package(SDL2 REQUIRED)
kav_library(platform_d3d DIRS platform/d3d platform/d3d/raster platform/d3d/offscreen
            DEPS vorav PNG::PNG Threads::Threads)
kav_library(platform_d3d_sdl DIRS platform/d3d/sdl DEPS platform_d3d SDL2::SDL2)

kav_test(platform_d3d_tests DIRS platform/d3d DEPS platform_d3d platform_d3d_sdl
         ELSEWHERE SwSdlSinkXvfb.* SwWorkerPoolSize.ChildSide)
if(KAV_TESTS)
  # The fast paths once more with the SSE2 kernels instead of AVX2.
  add_test(NAME platform_d3d_sse2_kernels COMMAND platform_d3d_tests --gtest_filter=SwFastPaths.*)
  set_tests_properties(platform_d3d_sse2_kernels PROPERTIES ENVIRONMENT KAV_D3D_NO_AVX2=1)
  # The SDL sink in a real X window, when xvfb-run is installed.
  find_program(XVFB_RUN xvfb-run)
  if(XVFB_RUN)
    add_test(NAME platform_d3d_xvfb COMMAND ${XVFB_RUN} -a $<TARGET_FILE:platform_d3d_tests> --gtest_filter=SwSdlSinkXvfb.*)
    # Leak checking stays with the headless run: the X and D-Bus client
    # libraries keep allocations of their own until exit.
    set_tests_properties(platform_d3d_xvfb PROPERTIES
                         ENVIRONMENT "KAV_XVFB_TEST=1;SDL_VIDEODRIVER=x11;ASAN_OPTIONS=detect_leaks=0" TIMEOUT 120
                         RESOURCE_LOCK xvfb_run)
  endif()
endif()
