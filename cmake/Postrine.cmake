# One static library per subsystem under src/<name>/ (a name may be a
# folder inside another subsystem's, as mailclient/smtp is). Portable
# sources are every *.cpp there; files ending in _posix.cpp or _win32.cpp
# are taken only on their platform. New modules need no edit here.
set(POSTRINE_SUBSYSTEMS "" CACHE INTERNAL "")

function(postrine_platform_sources out dir)
  file(GLOB all CONFIGURE_DEPENDS ${dir}/*.cpp)
  set(result "")
  foreach(f IN LISTS all)
    get_filename_component(name ${f} NAME)
    if(name MATCHES "_win32\\.cpp$")
      if(WIN32)
        list(APPEND result ${f})
      endif()
    elseif(name MATCHES "_posix\\.cpp$")
      if(NOT WIN32)
        list(APPEND result ${f})
      endif()
    elseif(NOT name STREQUAL "main.cpp")
      list(APPEND result ${f})
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# postrine_target(out name): the library's target name, postrine_ and the
# folder with "/" as "_" (postrine_mailclient_smtp).
function(postrine_target out name)
  string(REPLACE "/" "_" flat ${name})
  set(${out} postrine_${flat} PARENT_SCOPE)
endfunction()

# postrine_subsystem(name dependency...): the library of src/<name>/, which
# may use the headers of the listed subsystems and of what they use in turn,
# and no other. The rule is recorded for the include check below.
function(postrine_subsystem name)
  postrine_platform_sources(sources ${CMAKE_SOURCE_DIR}/src/${name})
  postrine_target(target ${name})
  set(reach ${name})
  foreach(dep IN LISTS ARGN)
    if(NOT DEFINED POSTRINE_REACH_${dep})
      message(FATAL_ERROR "subsystem ${name} uses ${dep}, which is not defined before it")
    endif()
    list(APPEND reach ${POSTRINE_REACH_${dep}})
  endforeach()
  list(REMOVE_DUPLICATES reach)
  set(POSTRINE_REACH_${name} ${reach} CACHE INTERNAL "")
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    foreach(dep IN LISTS ARGN)
      postrine_target(dep_target ${dep})
      target_link_libraries(${target} PUBLIC ${dep_target})
    endforeach()
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    foreach(dep IN LISTS ARGN)
      postrine_target(dep_target ${dep})
      target_link_libraries(${target} INTERFACE ${dep_target})
    endforeach()
  endif()
  set(POSTRINE_SUBSYSTEMS ${POSTRINE_SUBSYSTEMS} ${name} CACHE INTERNAL "")
endfunction()

# The include rule as a test: every #include "x/..." in src/<name>/ must
# name a subsystem that <name> may use (cmake/CheckIncludes.cmake). It also
# runs when the build is configured, so a wrong arrow fails at once.
function(postrine_include_rule)
  set(rules "")
  foreach(name IN LISTS POSTRINE_SUBSYSTEMS)
    list(JOIN POSTRINE_REACH_${name} "," reach)
    list(APPEND rules "${name}=${reach}")
  endforeach()
  list(JOIN rules "|" rules)
  set(POSTRINE_INCLUDE_RULES "${rules}" CACHE INTERNAL "")
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} "-DRULES=${rules}"
    -P ${CMAKE_SOURCE_DIR}/cmake/CheckIncludes.cmake RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "a library includes a header it may not use (see above)")
  endif()
endfunction()

# Test code is compiled for speed of building, without optimisation or
# debug information, in every configuration but Debug (the code under test
# keeps its own). Optimising GoogleTest's macros costs more time than
# anything else in the build, and GCC 12 reports bounds faults in them that
# cannot happen. (A precompiled GoogleTest header per test program was
# measured too: making it costs more than it saves.)
function(postrine_test_code_options target)
  if(NOT MSVC)
    target_compile_options(${target} PRIVATE "$<$<NOT:$<CONFIG:Debug>>:-O0;-g0>")
  endif()
endfunction()

# One test executable per subsystem from tests/<name>/*_test.cpp, with the
# same platform rule for _posix/_win32 files. The target unit_tests builds
# them all (and what they start), and nothing else.
function(postrine_unit_tests)
  add_custom_target(unit_tests)
  add_test(NAME include_rule COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
    "-DRULES=${POSTRINE_INCLUDE_RULES}" -P ${CMAKE_SOURCE_DIR}/cmake/CheckIncludes.cmake)
  set_tests_properties(include_rule PROPERTIES LABELS unit)
  foreach(name IN LISTS POSTRINE_SUBSYSTEMS)
    set(dir ${CMAKE_SOURCE_DIR}/tests/${name})
    file(GLOB all CONFIGURE_DEPENDS ${dir}/*_test.cpp ${dir}/*_test_posix.cpp ${dir}/*_test_win32.cpp)
    set(sources "")
    foreach(f IN LISTS all)
      get_filename_component(fn ${f} NAME)
      if(fn MATCHES "_win32\\.cpp$" AND NOT WIN32)
        continue()
      endif()
      if(fn MATCHES "_posix\\.cpp$" AND WIN32)
        continue()
      endif()
      list(APPEND sources ${f})
    endforeach()
    if(NOT sources)
      continue()
    endif()
    string(REPLACE "/" "_" target ${name}_tests)
    postrine_target(library ${name})
    add_executable(${target} ${sources})
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${target} PRIVATE ${library} GTest::gtest_main)
    postrine_test_code_options(${target})
    add_dependencies(unit_tests ${target})
    if(CMAKE_CROSSCOMPILING)
      # Under wine every process start costs, so each test program runs as
      # one ctest test, and counts only when it really ran.
      add_test(NAME ${target} COMMAND ${CMAKE_COMMAND} "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
        -DPROGRAM=$<TARGET_FILE:${target}> -P ${CMAKE_SOURCE_DIR}/cmake/RunUnderEmulator.cmake)
      set_tests_properties(${target} PROPERTIES LABELS unit TIMEOUT 600 ENVIRONMENT "WINEDEBUG=-all")
    else()
      gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
        PROPERTIES LABELS unit TIMEOUT 120)
    endif()
  endforeach()
endfunction()
