# The window-message layer: windows, messages within and between processes,
# timers, the desktop directory, the named mutex. winmsg_peer is the helper
# process the cross-process tests start.
add_executable(winmsg_peer ${CMAKE_CURRENT_LIST_DIR}/winmsg_peer.cpp)
target_link_libraries(winmsg_peer PRIVATE platform)

set(winmsg_support ${CMAKE_CURRENT_LIST_DIR}/winmsg_support.cpp ${CMAKE_CURRENT_LIST_DIR}/winmsg_testwindow.cpp)

zorvane_add_test(platform_winmsg_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/winmsg_local_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/winmsg_cross_test.cpp
          ${winmsg_support}
  LIBS platform)
target_compile_definitions(platform_winmsg_test PRIVATE WINMSG_PEER_PATH="$<TARGET_FILE:winmsg_peer>")
add_dependencies(platform_winmsg_test winmsg_peer)
