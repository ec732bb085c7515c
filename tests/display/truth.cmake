# What the main window tells the user, on the display under openbox: the
# lamps after this side's skypesim is killed, a local port that cannot be
# listened on, the log lines read back at start.
if(TARGET app AND TARGET skypesim AND TARGET zorvanefortcp)
  add_executable(truth_lane ${CMAKE_CURRENT_LIST_DIR}/truth_lane.cpp)
  target_link_libraries(truth_lane PRIVATE app)
  zorvane_embed_version(truth_lane)
  foreach(lane lamps portinuse restoredlog)
    add_test(NAME display_${lane}_lane_openbox
      COMMAND ${CMAKE_CURRENT_LIST_DIR}/${lane}_lane.sh $<TARGET_FILE:truth_lane> $<TARGET_FILE:zorvanefortcp>
              $<TARGET_FILE:skypesim> ${CMAKE_CURRENT_BINARY_DIR}/screenshots/${lane}-openbox)
    set_tests_properties(display_${lane}_lane_openbox PROPERTIES LABELS display SKIP_RETURN_CODE 77
      TIMEOUT 180 RUN_SERIAL TRUE ENVIRONMENT LANE_WM=openbox)
  endforeach()
endif()
