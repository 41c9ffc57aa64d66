# One library per folder, from every .cpp in it, so that an undeclared dependency fails to link.
# sheetwise_library(NAME [SHARED] DEPS dep...). The platform folders are SHARED: the host and the
# modules it loads must share one COM runtime, one settings store and one set of thread queues.
# They are built into one shared library, libsw_platform.so (sheetwise_platform_library, once
# every platform folder is added), which a folder's name links: each shared library costs every
# start of the program its mapping, relocations and page faults.
function(sheetwise_library name)
  cmake_parse_arguments(ARG "SHARED" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(ARG_SHARED)
    # The platform's own folders are all in the one library; what comes from outside it is
    # linked to the library and passed on to its users.
    set(outside ${ARG_DEPS})
    list(FILTER outside EXCLUDE REGEX "^sw_platform_")
    add_library(${name}_objects OBJECT ${sources})
    target_link_libraries(${name}_objects PUBLIC ${outside})
    set_property(GLOBAL APPEND PROPERTY SHEETWISE_PLATFORM_PARTS ${name}_objects)
    set_property(GLOBAL APPEND PROPERTY SHEETWISE_PLATFORM_OUTSIDE ${outside})
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE sw_platform)
  elseif(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# libsw_platform.so from the platform folders added so far.
function(sheetwise_platform_library)
  get_property(parts GLOBAL PROPERTY SHEETWISE_PLATFORM_PARTS)
  get_property(outside GLOBAL PROPERTY SHEETWISE_PLATFORM_OUTSIDE)
  list(REMOVE_DUPLICATES outside)
  add_library(sw_platform SHARED)
  foreach(part IN LISTS parts)
    target_sources(sw_platform PRIVATE $<TARGET_OBJECTS:${part}>)
  endforeach()
  target_link_libraries(sw_platform PUBLIC ${outside})
  # Found beside the executables and modules that use it, wherever they are installed.
  set_target_properties(sw_platform PROPERTIES INSTALL_RPATH "$ORIGIN")
endfunction()

# The tests of one folder: tests/<folder>/*_test.cpp make <name>_tests; files named
# *_thread_test.cpp make <name>_thread_tests, which also run under ThreadSanitizer (label thread).
function(sheetwise_tests name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB all CONFIGURE_DEPENDS ${dir}/*_test.cpp)
  file(GLOB threaded CONFIGURE_DEPENDS ${dir}/*_thread_test.cpp)
  set(plain ${all})
  if(threaded)
    list(REMOVE_ITEM plain ${threaded})
  endif()
  file(GLOB support CONFIGURE_DEPENDS ${dir}/*_support.cpp)
  # Tests never touch the user's settings: the store defaults to a folder of the build. The
  # shared folder (real-file corpus, peer tools) is compiled in; tests skip what is absent.
  set(test_env "XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-config")
  if(plain)
    add_executable(${name}_tests ${plain} ${support})
    target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
    target_compile_definitions(${name}_tests PRIVATE SW_SHARED_DIR="${SHEETWISE_SHARED}")
    gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300
                         ENVIRONMENT "${test_env}")
  endif()
  if(threaded)
    add_executable(${name}_thread_tests ${threaded} ${support})
    target_link_libraries(${name}_thread_tests PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
    target_compile_definitions(${name}_thread_tests PRIVATE SW_SHARED_DIR="${SHEETWISE_SHARED}")
    gtest_discover_tests(${name}_thread_tests DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS thread TIMEOUT 300
                         ENVIRONMENT "${test_env}")
    add_dependencies(thread_tests ${name}_thread_tests)
  endif()
endfunction()
