# Warnings on our own code only; errors when KORVANE_WERROR is on.
function(korvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(KORVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# korvane_library(NAME name SOURCES ... LIBS ...): one library of a folder.
function(korvane_library)
  cmake_parse_arguments(K "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_library(${K_NAME} STATIC ${K_SOURCES})
  target_include_directories(${K_NAME} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${K_NAME} PUBLIC ${K_LIBS})
  korvane_warnings(${K_NAME})
endfunction()

# korvane_test(NAME name SOURCES ... LIBS ... [LABELS ...] [QT]): one
# GoogleTest executable. LABELS "threads" puts it into the sanitizer runs of
# test.sh. QT gives it a main() that holds a QApplication (widget tests).
function(korvane_test)
  cmake_parse_arguments(K "QT" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${K_NAME} ${K_SOURCES})
  target_include_directories(${K_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR})
  if(K_QT)
    target_sources(${K_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/QtTestMain.cpp)
    target_link_libraries(${K_NAME} PRIVATE ${K_LIBS} Qt6::Widgets GTest::gtest)
  else()
    target_link_libraries(${K_NAME} PRIVATE ${K_LIBS} GTest::gtest GTest::gtest_main)
  endif()
  korvane_warnings(${K_NAME})
  if(CMAKE_CROSSCOMPILING)
    # Under Wine one process per executable: starting Wine per test case
    # would cost more than the tests themselves.
    add_test(NAME ${K_NAME} COMMAND ${K_NAME})
    set_tests_properties(${K_NAME} PROPERTIES ENVIRONMENT "${KORVANE_WINE_ENV}"
                         FIXTURES_REQUIRED wine LABELS "windows;${K_LABELS}")
    return()
  endif()
  set(props ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  if(K_LABELS)
    list(APPEND props LABELS "${K_LABELS}")
  endif()
  gtest_discover_tests(${K_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
