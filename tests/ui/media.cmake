# Slides and video. Both builds: the frame arithmetic and the clip check, against a short
# clip and three damaged copies of it. Under Wine: real decoding of the shipped clips.
set(tavro_media_dir "${CMAKE_CURRENT_BINARY_DIR}/media_fixtures")
set(tavro_short_clip "${CMAKE_CURRENT_SOURCE_DIR}/fixtures/short_clip.mp4")
set(tavro_damaged_clips "")
foreach(mode IN ITEMS first-key-frame-cut no-sample-data truncated)
  add_custom_command(OUTPUT "${tavro_media_dir}/${mode}.mp4"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${tavro_media_dir}"
    COMMAND python3 "${CMAKE_CURRENT_SOURCE_DIR}/fixtures/damage_clip.py"
            "${tavro_short_clip}" "${tavro_media_dir}/${mode}.mp4" ${mode}
    DEPENDS "${tavro_short_clip}" "${CMAKE_CURRENT_SOURCE_DIR}/fixtures/damage_clip.py")
  list(APPEND tavro_damaged_clips "${tavro_media_dir}/${mode}.mp4")
endforeach()
add_custom_target(media_fixtures DEPENDS ${tavro_damaged_clips})

tavro_add_test(media_tests video_frame_test.cpp clip_check_test.cpp)
add_dependencies(media_tests media_fixtures)

if(WIN32)
  # windres finds the files through the include directories below.
  file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/media_test.rc" "201 RCDATA \"slides/slide0.png\"
202 RCDATA \"slides/slide1.png\"\n203 RCDATA \"slides/slide2.png\"
401 RCDATA \"clips/clip_en.mp4\"\n402 RCDATA \"clips/clip_ja.mp4\"\n901 RCDATA \"short_clip.mp4\"
902 RCDATA \"first-key-frame-cut.mp4\"\n903 RCDATA \"no-sample-data.mp4\"\n904 RCDATA \"truncated.mp4\"\n")
  # A resource-only module that lacks slide 203.
  file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/media_two_slides.rc"
    "201 RCDATA \"slides/slide0.png\"\n202 RCDATA \"slides/slide1.png\"\n")
  add_library(media_two_slides MODULE "${CMAKE_CURRENT_BINARY_DIR}/media_two_slides.rc")
  set_target_properties(media_two_slides PROPERTIES LINKER_LANGUAGE CXX PREFIX "")
  target_include_directories(media_two_slides PRIVATE "${CMAKE_SOURCE_DIR}/resources")

  add_executable(media_win_tests media_win_test.cpp "${CMAKE_CURRENT_BINARY_DIR}/media_test.rc")
  set_source_files_properties("${CMAKE_CURRENT_BINARY_DIR}/media_test.rc" PROPERTIES OBJECT_DEPENDS
    "${tavro_damaged_clips};${CMAKE_SOURCE_DIR}/resources/clips/clip_en.mp4;${CMAKE_SOURCE_DIR}/resources/clips/clip_ja.mp4")
  target_include_directories(media_win_tests PRIVATE "${CMAKE_SOURCE_DIR}/resources"
    "${CMAKE_CURRENT_SOURCE_DIR}/fixtures" "${tavro_media_dir}")
  target_link_libraries(media_win_tests PRIVATE tavro_win GTest::gtest_main)
  add_dependencies(media_win_tests media_two_slides media_fixtures)
  target_compile_definitions(media_win_tests PRIVATE TAVRO_TWO_SLIDES_MODULE=L"Z:$<TARGET_FILE:media_two_slides>")

  set(tavro_media_env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all")
  add_test(NAME media_win_tests COMMAND media_win_tests --gtest_brief=1 --gtest_filter=-*WithoutMediaFoundation*)
  set_tests_properties(media_win_tests PROPERTIES LABELS ${TAVRO_TEST_LABEL} TIMEOUT 120
    ENVIRONMENT "${tavro_media_env}")
  # As on Windows N editions: neither DLL can be loaded.
  add_test(NAME media_win_tests_without_mf COMMAND media_win_tests --gtest_brief=1 --gtest_filter=*WithoutMediaFoundation*)
  set_tests_properties(media_win_tests_without_mf PROPERTIES LABELS ${TAVRO_TEST_LABEL} TIMEOUT 120
    ENVIRONMENT "${tavro_media_env};WINEDLLOVERRIDES=mscoree,mshtml=\\;mfplat,mfreadwrite=d")
endif()
