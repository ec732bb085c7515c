zorvane_add_test(platform_ini_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ini_test.cpp LIBS platform)
