# vltr_library(NAME [SUBDIRS dirs...] [EXCLUDE files...] [DEPS ...]): a static
# library built from every .cpp in the current folder and the listed
# sub-folders, with the repository root as include root.
function(vltr_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE;SUBDIRS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(subdir ${ARG_SUBDIRS})
    file(GLOB subdir_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${subdir}/*.cpp)
    list(APPEND sources ${subdir_sources})
  endforeach()
  foreach(excluded ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} Threads::Threads)
  endif()
endfunction()

# vltr_test_folder(FOLDER DEPS ...): one GoogleTest program for the .cpp files
# of tests/FOLDER; every test in it becomes a ctest case.
function(vltr_test_folder folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  string(REPLACE "/" "_" exe "test_${folder}")
  add_executable(${exe} ${sources})
  target_link_libraries(${exe} PRIVATE ${ARG_DEPS} vltr_testsupport GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${exe} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "VLTR_BUILD_DIR=${PROJECT_BINARY_DIR};VLTR_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
