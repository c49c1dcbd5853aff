# Test-only frame dumps: renders scene descriptions (or a test's own draw
# callback) through the draw manager into the offscreen sink and writes PNGs.
if(KAV_TESTS OR KAV_BENCH)
  add_library(kav_framedump STATIC ${PROJECT_SOURCE_DIR}/tools/framedump/FrameDump.cpp)
  target_include_directories(kav_framedump PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(kav_framedump PUBLIC kav_3dengine vorav_colorspace platform_png platform_d3d_gl_egl)
  set_property(GLOBAL APPEND PROPERTY KAV_LIBRARIES kav_framedump)
  add_executable(kavframedump ${PROJECT_SOURCE_DIR}/tools/framedump/kavframedump.cpp)
  target_link_libraries(kavframedump PRIVATE kav_framedump)
endif()
