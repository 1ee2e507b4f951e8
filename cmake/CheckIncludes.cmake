# Checks that each library includes only headers of the subsystems it may
# use, so that the dependencies stay one way:
#
#   cmake -DSOURCE_DIR=<top> -DRULES="a=a,b|b=b" -P CheckIncludes.cmake
#
# RULES holds, for every subsystem, the subsystems whose headers its files
# may include (itself and all it uses, directly or not). A quoted include
# belongs to the subsystem whose folder is the longest start of its path;
# one that belongs to none is reported too.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "|" ";" rules "${RULES}")
set(names "")
foreach(rule IN LISTS rules)
  string(REGEX REPLACE "=.*" "" name "${rule}")
  string(REGEX REPLACE "^[^=]*=" "" reach "${rule}")
  string(REPLACE "," ";" reach "${reach}")
  set(reach_${name} ${reach})
  list(APPEND names ${name})
endforeach()

set(faults 0)
foreach(name IN LISTS names)
  file(GLOB files ${SOURCE_DIR}/src/${name}/*.h ${SOURCE_DIR}/src/${name}/*.cpp)
  # main.cpp is no part of a library: each program's variant builds it with
  # what it needs (the test variants with the tests' helpers).
  list(FILTER files EXCLUDE REGEX "/main\\.cpp$")
  foreach(file IN LISTS files)
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
      set(owner "")
      foreach(candidate IN LISTS names)
        string(LENGTH "${candidate}/" length)
        string(LENGTH "${owner}" best)
        string(SUBSTRING "${header}" 0 ${length} start)
        if(start STREQUAL "${candidate}/" AND length GREATER best)
          set(owner ${candidate})
        endif()
      endforeach()
      file(RELATIVE_PATH shown ${SOURCE_DIR} ${file})
      if(owner STREQUAL "")
        message("${shown}: \"${header}\" is in no subsystem (write its path from src/)")
        math(EXPR faults "${faults} + 1")
      elseif(NOT owner IN_LIST reach_${name})
        message("${shown}: \"${header}\" belongs to ${owner}, which ${name} may not use")
        math(EXPR faults "${faults} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()
if(faults GREATER 0)
  message(FATAL_ERROR "${faults} include(s) against the dependency rule")
endif()
