# Fails when a source file outside src/system includes an operating-system header: everything
# above that floor stays platform-free, so a second platform touches src/system alone.
# tools/valve owns its pseudo-terminal and is not part of the program.
#   cmake -DQLN_SOURCE_DIR=<root> -P CheckSystemFloor.cmake
file(GLOB_RECURSE sources
     ${QLN_SOURCE_DIR}/src/*.h ${QLN_SOURCE_DIR}/src/*.cpp
     ${QLN_SOURCE_DIR}/tools/*.h ${QLN_SOURCE_DIR}/tools/*.cpp)
set(os_header "#[ \t]*include[ \t]*<(termios|poll|unistd|fcntl|signal|pwd|grp|pthread|dirent|windows|io|libudev)\\.h>|#[ \t]*include[ \t]*<sys/")
set(offenders "")
foreach(file IN LISTS sources)
  if(file MATCHES "/src/system/|/tools/valve/")
    continue()
  endif()
  file(STRINGS ${file} hits REGEX "${os_header}")
  if(hits)
    file(RELATIVE_PATH relative ${QLN_SOURCE_DIR} ${file})
    list(APPEND offenders "${relative}: ${hits}")
  endif()
endforeach()
if(offenders)
  list(JOIN offenders "\n  " text)
  message(FATAL_ERROR "Only src/system may include operating-system headers; call its interfaces instead:\n  ${text}")
endif()
