# Fuzz entry points, shared by the libFuzzer drivers and the unit tests that
# replay the seed corpora.
if(KAV_TESTS OR KAV_FUZZ)
  kav_library(kav_fuzz DIRS tools/fuzz DEPS vorav vorav_graphics vorav_video vorav_vector vorav_text vorav_music kav_music kav_viewer vorav_colorspace kav_exif kav_effects kav_classes)
endif()
if(KAV_FUZZ)
  # Every library is built with coverage instrumentation, or the fuzzer sees
  # only its driver and mutates blindly. The flags variables are read once
  # the whole directory is processed, so this reaches the libraries declared
  # before this file too.
  string(APPEND CMAKE_CXX_FLAGS " -fsanitize=fuzzer-no-link")
  string(APPEND CMAKE_C_FLAGS " -fsanitize=fuzzer-no-link")
  file(GLOB fuzz_drivers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/fuzz/libfuzzer/*.cpp)
  foreach(driver ${fuzz_drivers})
    get_filename_component(driver_name ${driver} NAME_WE)
    add_executable(${driver_name} ${driver})
    target_link_libraries(${driver_name} PRIVATE kav_fuzz)
    target_link_options(${driver_name} PRIVATE -fsanitize=fuzzer)
  endforeach()
endif()
# The 2D effect parsers' entry points live in their own library.
if(KAV_TESTS OR KAV_FUZZ)
  target_link_libraries(kav_fuzz PUBLIC vorav_effects2d)
endif()
