# The bundled demo show: the project text and the button style are committed
# (demo/show), the pictures, sounds and the clip are made at build time by
# demo/make_media.py, and kavpack packs the folder into
# <build>/demo/demo.kvshow (target kav_demo).
#
# The media need Python 3 with Pillow, sox, lame and ffmpeg (espeak-ng
# speaks the sound comment when present). Without them kav_demo only says
# what is missing, nothing joins the default build, and the demo test reads
# the project text alone.

kav_test(demo_tests DIRS demo DEPS kav_classes kav_viewer kav_music vorav)

function(kav_demo_find_tools out)
  # Debian's own interpreter: Pillow comes from python3-pil.
  find_program(KAV_DEMO_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(NOT KAV_DEMO_PYTHON)
    find_program(KAV_DEMO_PYTHON NAMES python3)
  endif()
  find_program(KAV_DEMO_SOX sox)
  find_program(KAV_DEMO_LAME lame)
  find_program(KAV_DEMO_FFMPEG ffmpeg)
  find_program(KAV_DEMO_ESPEAK espeak-ng)
  set(missing)
  if(KAV_DEMO_PYTHON)
    execute_process(COMMAND ${KAV_DEMO_PYTHON} -c "import PIL" RESULT_VARIABLE pil_result
                    OUTPUT_QUIET ERROR_QUIET)
    if(NOT pil_result EQUAL 0)
      list(APPEND missing "Pillow for ${KAV_DEMO_PYTHON} (python3-pil)")
    endif()
  else()
    list(APPEND missing python3)
  endif()
  foreach(tool SOX LAME FFMPEG)
    if(NOT KAV_DEMO_${tool})
      string(TOLOWER ${tool} name)
      list(APPEND missing ${name})
    endif()
  endforeach()
  set(${out} "${missing}" PARENT_SCOPE)
endfunction()

# Run once every kav.cmake is read, so that kavpack's target is known.
function(kav_demo_setup)
  set(out ${CMAKE_BINARY_DIR}/demo)
  set(show ${out}/demo.kvshow)
  kav_demo_find_tools(missing)
  if(missing)
    string(REPLACE ";" ", " missing_text "${missing}")
    message(STATUS "Demo show: not built (missing ${missing_text}; scripts/install-deps.sh installs them)")
    add_custom_target(kav_demo
                      COMMAND ${CMAKE_COMMAND} -E echo "The demo show needs: ${missing_text}"
                      COMMAND ${CMAKE_COMMAND} -E false)
    return()
  endif()

  set(packer kavpack)

  file(GLOB_RECURSE texts CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/demo/show/* ${PROJECT_SOURCE_DIR}/KavLib2/NavPanel/Skins/Video/*)
  set(espeak)
  if(KAV_DEMO_ESPEAK)
    set(espeak --espeak ${KAV_DEMO_ESPEAK})
  endif()
  add_custom_command(
    OUTPUT ${show}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${out}/show
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/demo/show ${out}/show
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/KavLib2/NavPanel/Skins/Video ${out}/show/NavSkin
    COMMAND ${KAV_DEMO_PYTHON} ${PROJECT_SOURCE_DIR}/demo/make_media.py --sox ${KAV_DEMO_SOX}
            --lame ${KAV_DEMO_LAME} --ffmpeg ${KAV_DEMO_FFMPEG} ${espeak} ${out}/show
    COMMAND $<TARGET_FILE:${packer}> ${show} ${out}/show
    DEPENDS ${PROJECT_SOURCE_DIR}/demo/make_media.py ${texts} ${packer}
    COMMENT "Making the demo show"
    VERBATIM)
  if(TARGET demo_tests)
    # The test build makes the show for the demo test.
    add_custom_target(kav_demo ALL DEPENDS ${show})
    add_dependencies(demo_tests kav_demo)
  else()
    add_custom_target(kav_demo DEPENDS ${show})
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL kav_demo_setup)

if(TARGET demo_tests)
  target_compile_definitions(demo_tests PRIVATE KAV_DEMO_SHOW="${CMAKE_BINARY_DIR}/demo/demo.kvshow")
endif()
