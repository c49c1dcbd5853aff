# Test-only: the GL device against the software device. One program draws
# the draw manager's scenes, the pixel programs, the slide objects and every
# transition configuration on both devices (headless EGL on Mesa) and
# compares the pictures; it skips itself where no OpenGL 3.3 exists.
kav_test(gl_compare_tests DIRS tools/glcompare
         DEPS kav_transsheet kav_framedump platform_d3d_gl_egl kav_3dengine)
