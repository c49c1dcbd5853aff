# The packer: a library that the tests and benchmarks link to write packed
# shows at run time, and kavpack, the program that packs a project folder
# into a show file. kavpack is built by every build and installed.
find_package(ZLIB REQUIRED)
add_library(kav_packer STATIC ${PROJECT_SOURCE_DIR}/tools/packer/KavPacker.cpp)
target_include_directories(kav_packer PUBLIC ${PROJECT_SOURCE_DIR}/tools/packer ${PROJECT_SOURCE_DIR})
target_link_libraries(kav_packer PUBLIC ZLIB::ZLIB)
set_property(GLOBAL APPEND PROPERTY KAV_LIBRARIES kav_packer)

add_executable(kavpack ${PROJECT_SOURCE_DIR}/tools/packer/kavpack.cpp)
target_link_libraries(kavpack PRIVATE kav_packer kav_classes kav_viewer kav_exif vorav_colorspace vorav_music vorav)
include(GNUInstallDirs)
install(TARGETS kavpack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(KAV_TESTS OR KAV_FUZZ)
  add_executable(kavseeds ${PROJECT_SOURCE_DIR}/tools/packer/kavseeds.cpp)
  target_link_libraries(kavseeds PRIVATE kav_packer)
  add_executable(kavbigentry ${PROJECT_SOURCE_DIR}/tools/packer/kavbigentry.cpp)
  target_link_libraries(kavbigentry PRIVATE kav_packer)
endif()

# kavpack itself on the committed example show (examples/myshow) and on
# pictures stored turned: packs, then opens what it wrote as the player does.
kav_test(packer_tests DIRS tools/packer DEPS kav_classes kav_packer kav_exif)
if(TARGET packer_tests)
  add_dependencies(packer_tests kavpack)
  target_compile_definitions(packer_tests PRIVATE KAV_KAVPACK="$<TARGET_FILE:kavpack>")
endif()
if(KAV_TESTS)
  # The README's steps: pack the example, play the show file and the folder.
  add_test(NAME kavpack_example_plays
           COMMAND ${PROJECT_SOURCE_DIR}/tests/tools/packer/kavpack_example_plays.sh $<TARGET_FILE:kavpack>
                   $<TARGET_FILE:kavplay> ${PROJECT_SOURCE_DIR}/examples/myshow ${CMAKE_BINARY_DIR}/kavpack_example)
  set_tests_properties(kavpack_example_plays PROPERTIES
                       ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=0"
                       TIMEOUT 300)
  # The README's project text snippets, each packed and played for its length.
  add_test(NAME readme_snippets_play
           COMMAND ${PROJECT_SOURCE_DIR}/tests/tools/packer/readme_snippets_play.sh $<TARGET_FILE:kavpack>
                   $<TARGET_FILE:kavplay> ${PROJECT_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/readme_snippets)
  set_tests_properties(readme_snippets_play PROPERTIES
                       ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy;ASAN_OPTIONS=detect_leaks=0"
                       SKIP_RETURN_CODE 77 TIMEOUT 400 COST 200)
  # The README's example show with its names in each form a folder reads:
  # the show file draws the same pixels and plays the same sound as the
  # folder (an X server, SDL's disk audio driver). Skips (77) without the tools.
  add_test(NAME kavpack_name_forms_xvfb
           COMMAND ${PROJECT_SOURCE_DIR}/tests/tools/packer/name_forms_play.sh $<TARGET_FILE:kavplay>
                   $<TARGET_FILE:kavpack> ${PROJECT_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/kavpack_name_forms)
  set_tests_properties(kavpack_name_forms_xvfb PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0"
                       SKIP_RETURN_CODE 77 TIMEOUT 600 COST 200)
endif()
