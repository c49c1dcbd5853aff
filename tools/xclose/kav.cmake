# Test-only: sends a window the close request a window manager sends.
if(KAV_TESTS)
  find_package(X11 QUIET)
  if(X11_FOUND)
    add_executable(kavxclose ${PROJECT_SOURCE_DIR}/tools/xclose/kavxclose.c)
    target_include_directories(kavxclose PRIVATE ${X11_INCLUDE_DIR})
    target_link_libraries(kavxclose PRIVATE ${X11_LIBRARIES})
  endif()
endif()
