# Build helpers shared by every folder.

# Where an installed Vantor keeps its data: the question table, Vantor.ini,
# pictures and sounds. The build tree keeps them beside the program instead;
# an installed program finds this directory relative to its own
# (VANTOR_DATA_DIR_FROM_BIN).
include(GNUInstallDirs)
set(VANTOR_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/vantor)
file(RELATIVE_PATH VANTOR_DATA_DIR_FROM_BIN /${CMAKE_INSTALL_BINDIR} /${VANTOR_INSTALL_DATADIR})

# vantor_library(<target> [DEPS <targets>...])
# A static library of every .cpp in the calling folder; an interface library
# while the folder has no sources yet. The repository root is the include root,
# so headers are included as "engine/base/errors.h".
function(vantor_library target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# vantor_test_suite(<label> <folder> [LIBS <targets>...] [QT])
# One GoogleTest program for tests/<folder>, its tests registered with CTest
# under the label. QT suites bring their own main (test_main.cpp) that creates
# the QApplication; the others use gtest_main.
function(vantor_test_suite label folder)
  cmake_parse_arguments(ARG "QT" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  string(REPLACE "-" "_" exe "${label}_tests")
  add_executable(${exe} ${sources})
  target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${exe} PRIVATE ${ARG_LIBS} vantor_test_support GTest::gtest GTest::gmock)
  if(NOT ARG_QT)
    target_link_libraries(${exe} PRIVATE GTest::gtest_main)
  endif()
  gtest_discover_tests(${exe}
    TEST_PREFIX "${label}."
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${label} ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()
