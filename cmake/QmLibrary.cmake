# One library per folder: every .cpp in the folder, one public header named
# after the folder, and include paths rooted at the source tree so that code
# says #include "scene/scene.h".
function(qm_library name)
  cmake_parse_arguments(QL "" "" "DEPS;SYSTEM" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER _srcs EXCLUDE REGEX "/(main|fuzz_[a-z_]*)\\.cpp$")
  if(NOT _srcs)  # a folder whose first sources are still to come
    add_library(qm_${name} INTERFACE)
    target_include_directories(qm_${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(qm_${name} INTERFACE ${QL_DEPS} ${QL_SYSTEM})
    return()
  endif()
  add_library(qm_${name} STATIC ${_srcs})
  target_include_directories(qm_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(qm_${name} PUBLIC ${QL_DEPS} ${QL_SYSTEM})
endfunction()

# Tests for one folder: every .cpp in tests/<folder>/ into one GoogleTest binary.
function(qm_tests name)
  cmake_parse_arguments(QT "" "" "DEPS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  if(NOT _srcs)
    return()
  endif()
  add_executable(test_${name} ${_srcs})
  target_link_libraries(test_${name} PRIVATE ${QT_DEPS} GTest::gtest GTest::gtest_main qm_testsupport)
  # One ENVIRONMENT key a variable: the discovery script splits a ';' list
  # into separate words, and CTest adds up repeated ENVIRONMENT keys.
  gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QUILLMOOR_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
               ENVIRONMENT "QUILLMOOR_DATA_DIR=${QM_DATA_DIR}"
               ENVIRONMENT "LIBGL_ALWAYS_SOFTWARE=1"
               ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp")
endfunction()
