# The settings dialogs on the display, opened through the main dialog's
# commands with skypesim giving the contact list.
if(TARGET app AND TARGET skypesim)
  add_executable(settingsdialogs_lane ${CMAKE_CURRENT_LIST_DIR}/settingsdialogs_lane.cpp)
  target_link_libraries(settingsdialogs_lane PRIVATE app)
  zorvane_embed_version(settingsdialogs_lane)
  add_test(NAME display_settingsdialogs_lane
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/settingsdialogs_lane.sh $<TARGET_FILE:settingsdialogs_lane>
            $<TARGET_FILE:skypesim> ${CMAKE_CURRENT_BINARY_DIR}/screenshots/settingsdialogs)
  set_tests_properties(display_settingsdialogs_lane PROPERTIES LABELS display SKIP_RETURN_CODE 77 TIMEOUT 120
    RUN_SERIAL TRUE)
  # The same under a window manager: owned dialogs placed over the main window.
  add_test(NAME display_settingsdialogs_lane_openbox
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/settingsdialogs_lane.sh $<TARGET_FILE:settingsdialogs_lane>
            $<TARGET_FILE:skypesim> ${CMAKE_CURRENT_BINARY_DIR}/screenshots/settingsdialogs-openbox)
  set_tests_properties(display_settingsdialogs_lane_openbox PROPERTIES LABELS display SKIP_RETURN_CODE 77
    TIMEOUT 120 RUN_SERIAL TRUE ENVIRONMENT LANE_WM=openbox)
  # A port dialog confirmed after the streams came up (the program as the
  # server application).
  if(TARGET zorvanefortcp)
    add_test(NAME display_portlock_lane
      COMMAND ${CMAKE_CURRENT_LIST_DIR}/portlock_lane.sh $<TARGET_FILE:settingsdialogs_lane>
              $<TARGET_FILE:zorvanefortcp> $<TARGET_FILE:skypesim> ${CMAKE_CURRENT_BINARY_DIR}/screenshots/portlock)
    set_tests_properties(display_portlock_lane PROPERTIES LABELS display SKIP_RETURN_CODE 77 TIMEOUT 120
      RUN_SERIAL TRUE)
  endif()
endif()
