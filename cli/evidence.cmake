# Whole disks and evidence files behind the tool's source layer, and the
# reports built on the listing.
target_sources(tarnwick_cli_support PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/bodyfile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/byte_size.cpp
  ${CMAKE_CURRENT_LIST_DIR}/du.cpp
  ${CMAKE_CURRENT_LIST_DIR}/partition_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ewf_source.cpp)

# E01 evidence files through libewf, when it is there; without it the tool
# still builds and says, when given an E01 file, that it cannot read it.
find_path(LIBEWF_INCLUDE_DIR libewf.h)
find_library(LIBEWF_LIBRARY ewf)
if(LIBEWF_INCLUDE_DIR AND LIBEWF_LIBRARY)
  target_include_directories(tarnwick_cli_support PRIVATE ${LIBEWF_INCLUDE_DIR})
  target_link_libraries(tarnwick_cli_support PRIVATE ${LIBEWF_LIBRARY})
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/ewf_source.cpp PROPERTIES COMPILE_DEFINITIONS TARNWICK_HAVE_LIBEWF)
  set(TARNWICK_HAVE_LIBEWF ON CACHE INTERNAL "")
  message(STATUS "libewf found: tarnwick reads E01 evidence files")
else()
  set(TARNWICK_HAVE_LIBEWF OFF CACHE INTERNAL "")
  message(STATUS "libewf not found: tarnwick is built without E01 evidence files (install libewf-dev)")
endif()
