include(GoogleTest)

# zorvane_add_test(<name> SOURCES <files...> LIBS <targets...> [TSAN] [LABELS <labels...>])
# One GoogleTest executable; every test in it is registered with CTest.
# TSAN marks tests that the thread-sanitizer run executes as well.
function(zorvane_add_test name)
  cmake_parse_arguments(ARG "TSAN" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  set(labels ${ARG_LABELS})
  if(ARG_TSAN)
    list(APPEND labels tsan)
  endif()
  set(properties ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  if(labels)
    list(APPEND properties LABELS "${labels}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
