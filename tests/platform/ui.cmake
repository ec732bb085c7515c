# The dialog framework and the platform pieces of the user interface
# (platformui), on Qt's offscreen platform. ui_peer is the helper process
# that sends to the test's windows (and carries a version with semicolons).
add_executable(ui_peer ${CMAKE_CURRENT_LIST_DIR}/ui_peer.cpp)
target_link_libraries(ui_peer PRIVATE platform)
zorvane_embed_version(ui_peer PRODUCT_VERSION "1, 2; 3, 4")

zorvane_add_test(platform_ui_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ui_dialog_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/ui_platform_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/ui_support.cpp
          ${CMAKE_CURRENT_LIST_DIR}/ui_main.cpp
  LIBS platformui)
zorvane_embed_version(platform_ui_test)
set(ui_wave ${CMAKE_CURRENT_BINARY_DIR}/waves/139.wav)
zorvane_generate_tone(OUTPUT ${ui_wave} TONES 880:60 0:20 660:90)
zorvane_embed_files(platform_ui_test NAME ui_test_waves BASE ${CMAKE_CURRENT_BINARY_DIR} FILES ${ui_wave})
foreach(part MAJOR MINOR PATCH TWEAK)
  list(APPEND ui_version_parts ${PROJECT_VERSION_${part}})
endforeach()
list(JOIN ui_version_parts ", " ui_expected_version)
target_compile_definitions(platform_ui_test PRIVATE
  UI_PEER_PATH="$<TARGET_FILE:ui_peer>" UI_EXPECTED_VERSION="${ui_expected_version}")
add_dependencies(platform_ui_test ui_peer)
