# The tool's forensic side: the body file against The Sleuth Kit's timeline,
# and whole disks and an E01 file made around two test volumes at build time
# for the tests of the source layer and of du.

# The body file through mactime, against fls -m on the shared images.
add_test(NAME tarnwick_bodyfile_timeline
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/bodyfile_timeline_test.sh $<TARGET_FILE:tarnwick> ${TARNWICK_SHARED_IMAGES})
set_tests_properties(tarnwick_bodyfile_timeline PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)

if(NOT TARGET tarnwick-volume-builder OR NOT COMMAND tarnwick_test_volume)
  return()
endif()
tarnwick_test_volume(names IMAGE_VAR first_volume TARGET_VAR first_target)
tarnwick_test_volume(links IMAGE_VAR second_volume TARGET_VAR second_target)
set(disks ${CMAKE_CURRENT_BINARY_DIR}/disks)
set(make_disks ${CMAKE_CURRENT_SOURCE_DIR}/make-disk-images.sh)
add_custom_command(
  OUTPUT ${disks}/made
  COMMAND bash ${make_disks} ${disks} ${first_volume} ${second_volume}
  COMMAND ${CMAKE_COMMAND} -E touch ${disks}/made
  DEPENDS ${make_disks} ${first_volume} ${second_volume} ${first_target} ${second_target}
  COMMENT "Making disk images with partition tables and an E01 file"
  VERBATIM)
add_custom_target(tarnwick-disk-images DEPENDS ${disks}/made)

add_executable(tarnwick_cli_forensic_tests disk_source_test.cpp du_test.cpp)
target_link_libraries(tarnwick_cli_forensic_tests PRIVATE tarnwick_test_tool_run tarnwick_cli_support GTest::gtest_main
                      tarnwick_warnings)
target_compile_options(tarnwick_cli_forensic_tests PRIVATE -Wno-conversion)
target_compile_definitions(tarnwick_cli_forensic_tests PRIVATE
  TARNWICK_DISK_IMAGES="${disks}" TARNWICK_FIRST_VOLUME="${first_volume}" TARNWICK_SECOND_VOLUME="${second_volume}")
add_dependencies(tarnwick_cli_forensic_tests tarnwick-disk-images tarnwick)
gtest_discover_tests(tarnwick_cli_forensic_tests DISCOVERY_TIMEOUT 60)
