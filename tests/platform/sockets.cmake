zorvane_add_test(platform_sockets_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sockets_test.cpp
  LIBS platform
  TSAN)
