# Colour management: Little CMS 2 is loaded at run time; only its header is used here.
find_path(LCMS2_INCLUDE_DIR lcms2.h REQUIRED)
kav_library(vorav_colorspace DIRS VoRav/Graphics/JpegColorSpace DEPS vorav_graphics)
target_include_directories(vorav_colorspace PUBLIC ${LCMS2_INCLUDE_DIR})
# The JPEG loader decodes through libjpeg-turbo's libjpeg 6 interface.
find_package(JPEG REQUIRED)
target_link_libraries(vorav_colorspace PUBLIC JPEG::JPEG)

kav_test(colorspace_tests DIRS VoRav/Graphics/JpegColorSpace DEPS vorav_colorspace)
if(KAV_TESTS)
  # A colour library missing one entry point, for the incomplete-library test.
  add_library(lcms_stub SHARED ${PROJECT_SOURCE_DIR}/tests/VoRav/Graphics/JpegColorSpace/stub/lcms_stub.c)
  set_target_properties(lcms_stub PROPERTIES NO_SONAME ON)
  add_dependencies(colorspace_tests lcms_stub)
  target_compile_definitions(colorspace_tests PRIVATE KAV_LCMS_STUB="$<TARGET_FILE:lcms_stub>")
endif()
