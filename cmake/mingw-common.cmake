# What both mingw-w64 toolchains share; each sets TARNWICK_MINGW_TRIPLE first.
# The posix-threads flavour: std::thread and std::mutex work there (the win32
# flavour of GCC 12 lacks them); -static links its libwinpthread in too.
foreach(tool_lang C:gcc CXX:g++)
  string(REPLACE ":" ";" pair ${tool_lang})
  list(GET pair 0 lang)
  list(GET pair 1 tool)
  if(EXISTS /usr/bin/${TARNWICK_MINGW_TRIPLE}-${tool}-posix)
    set(CMAKE_${lang}_COMPILER ${TARNWICK_MINGW_TRIPLE}-${tool}-posix)
  else()
    set(CMAKE_${lang}_COMPILER ${TARNWICK_MINGW_TRIPLE}-${tool})
  endif()
endforeach()
set(CMAKE_RC_COMPILER ${TARNWICK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARNWICK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables run under Wine on the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# The runtime goes inside every binary: Tarnwick.dll must load on a bare
# Windows, and the test programs run under Wine with no mingw DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
