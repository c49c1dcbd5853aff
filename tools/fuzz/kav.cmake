# Fuzz entry points, shared by the libFuzzer drivers and the unit tests that
# replay the seed corpora.
if(KAV_TESTS OR KAV_FUZZ)
  kav_library(kav_fuzz DIRS tools/fuzz DEPS vorav kav_viewer vorav_colorspace kav_exif)
endif()
if(KAV_FUZZ)
  file(GLOB fuzz_drivers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/fuzz/libfuzzer/*.cpp)
  foreach(driver ${fuzz_drivers})
    get_filename_component(driver_name ${driver} NAME_WE)
    add_executable(${driver_name} ${driver})
    target_link_libraries(${driver_name} PRIVATE kav_fuzz)
    target_link_options(${driver_name} PRIVATE -fsanitize=fuzzer)
  endforeach()
endif()
