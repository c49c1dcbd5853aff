# Platform: the OpenGL device (a backend of the 3D device drawing through
# GL 3.3 core), its SDL context on the player's windows and a headless EGL
# context for tests, tools and benchmarks. GL functions are loaded at run
# time; only the EGL library is linked, by the headless context.
find_package(SDL2 REQUIRED)
find_package(OpenGL REQUIRED COMPONENTS EGL)
kav_library(platform_d3d_gl DIRS platform/d3d/gl DEPS platform_d3d)
kav_library(platform_d3d_gl_sdl DIRS platform/d3d/gl/sdl DEPS platform_d3d_gl SDL2::SDL2)
kav_library(platform_d3d_gl_egl DIRS platform/d3d/gl/egl DEPS platform_d3d_gl OpenGL::EGL)

kav_test(platform_d3d_gl_tests DIRS platform/d3d/gl DEPS platform_d3d_gl platform_d3d_gl_egl platform_d3d_gl_sdl)
