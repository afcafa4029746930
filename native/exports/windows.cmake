# Windows (mingw-w64) build of Tarnwick.dll, included by native/CMakeLists.txt.
#
# The export table is exactly the five functions of the .def file, with fixed
# ordinals and, in the 32-bit build, the standard-call decorated names. The
# header's __declspec(dllexport) would add a second, differently decorated
# name for each function in the 32-bit build (GNU ld exports "Clear@0" beside
# the .def's "_Clear@0"), so the exports are compiled without it: with
# TARNWICK_BUILDING undone the header asks for dllimport, which
# -mnop-fun-dllimport makes the compiler ignore. The .def alone decides.

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(tarnwick_def ${CMAKE_CURRENT_LIST_DIR}/tarnwick-x86.def)
else()
  set(tarnwick_def ${CMAKE_CURRENT_LIST_DIR}/tarnwick-x64.def)
endif()

target_sources(Tarnwick PRIVATE ${tarnwick_def})
set_property(TARGET Tarnwick APPEND PROPERTY LINK_DEPENDS ${tarnwick_def})

# The import library ld writes for the x86 .def lists the exported names with
# one underscore too many (__imp___LoadMft@8), which no caller asks for;
# dlltool writes one that binds a caller's stdcall declarations to them.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  get_filename_component(tarnwick_tool_dir ${CMAKE_CXX_COMPILER} DIRECTORY)
  get_filename_component(tarnwick_compiler_name ${CMAKE_CXX_COMPILER} NAME)
  string(REGEX REPLACE "g\\+\\+(-posix|-win32)?$" "dlltool" tarnwick_dlltool_name ${tarnwick_compiler_name})
  find_program(TARNWICK_DLLTOOL NAMES ${tarnwick_dlltool_name} i686-w64-mingw32-dlltool ${CMAKE_DLLTOOL}
               HINTS ${tarnwick_tool_dir} REQUIRED)
  add_custom_command(TARGET Tarnwick POST_BUILD
    COMMAND ${TARNWICK_DLLTOOL} -d ${CMAKE_CURRENT_LIST_DIR}/tarnwick-x86-import.def -l $<TARGET_LINKER_FILE:Tarnwick>
    VERBATIM)
endif()

target_compile_options(Tarnwick PRIVATE -UTARNWICK_BUILDING -mnop-fun-dllimport)

set_target_properties(Tarnwick PROPERTIES PREFIX "" OUTPUT_NAME Tarnwick SUFFIX ".dll")
target_link_options(Tarnwick PRIVATE
  # No mingw runtime DLL beside it on a bare Windows: link the runtime in.
  -static -static-libgcc -static-libstdc++
  # Only the .def's names; no global of the core or the runtime leaks out.
  -Wl,--exclude-all-symbols
  # Same input, same bytes.
  -Wl,--no-insert-timestamp)

# The version resource, with the version of the public header.
enable_language(RC)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(tarnwick_rc_architecture x86)
else()
  set(tarnwick_rc_architecture x64)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarnwick.rc.in ${CMAKE_CURRENT_BINARY_DIR}/tarnwick.rc @ONLY)
target_sources(Tarnwick PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/tarnwick.rc)
