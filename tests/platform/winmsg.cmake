# The window-message layer: windows, messages within and between processes,
# timers, the desktop directory, the named mutex. winmsg_peer is the helper
# process the cross-process tests start; winmsg_roundtrip measures send round
# trips by hand.
add_executable(winmsg_peer ${CMAKE_CURRENT_LIST_DIR}/winmsg_peer.cpp)
target_link_libraries(winmsg_peer PRIVATE platform)

set(winmsg_support ${CMAKE_CURRENT_LIST_DIR}/winmsg_support.cpp)
set(winmsg_test_support ${winmsg_support}
  ${CMAKE_CURRENT_LIST_DIR}/winmsg_testwindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winmsg_main.cpp)

zorvane_add_test(platform_winmsg_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/winmsg_local_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/winmsg_cross_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/winmsg_desktop_test.cpp
          ${winmsg_test_support}
  LIBS platform)

zorvane_add_test(platform_winmsg_threads_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/winmsg_threads_test.cpp ${winmsg_test_support}
  LIBS platform
  TSAN)

add_executable(winmsg_roundtrip ${CMAKE_CURRENT_LIST_DIR}/winmsg_roundtrip.cpp ${winmsg_support})
target_link_libraries(winmsg_roundtrip PRIVATE platform)

foreach(t platform_winmsg_test platform_winmsg_threads_test winmsg_roundtrip)
  target_compile_definitions(${t} PRIVATE WINMSG_PEER_PATH="$<TARGET_FILE:winmsg_peer>")
  add_dependencies(${t} winmsg_peer)
endforeach()
