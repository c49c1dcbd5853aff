# Test-only packer: a library the tests and benchmarks link, and a program
# that writes packed shows from a folder.
if(KAV_TESTS OR KAV_BENCH OR KAV_FUZZ)
  find_package(ZLIB REQUIRED)
  add_library(kav_packer STATIC ${PROJECT_SOURCE_DIR}/tools/packer/KavPacker.cpp)
  target_include_directories(kav_packer PUBLIC ${PROJECT_SOURCE_DIR}/tools/packer ${PROJECT_SOURCE_DIR})
  target_link_libraries(kav_packer PUBLIC ZLIB::ZLIB)
  set_property(GLOBAL APPEND PROPERTY KAV_LIBRARIES kav_packer)
  add_executable(kavpack ${PROJECT_SOURCE_DIR}/tools/packer/kavpack.cpp)
  target_link_libraries(kavpack PRIVATE kav_packer)
  add_executable(kavseeds ${PROJECT_SOURCE_DIR}/tools/packer/kavseeds.cpp)
  target_link_libraries(kavseeds PRIVATE kav_packer)
endif()
