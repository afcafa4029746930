# Test volumes for every suite: real NTFS images built by tarnwick-volume-builder
# from the descriptions in tests/volumes/, each with its expected catalogue.
#
#   tarnwick_test_volume(<name> [IMAGE_VAR <var>] [EXPECTED_VAR <var>]
#                        [INDEX_NAMES_VAR <var>] [TARGET_VAR <var>])
#
# builds tests/volumes/<name>.vol into ${CMAKE_BINARY_DIR}/volumes/<name>.img
# (and <name>.expected.tsv, <name>.index-names.tsv) as part of the default
# build, through the target tarnwick-volume-<name>. Any suite may call it for
# any volume, any number of times; add_dependencies(<your target>
# tarnwick-volume-<name>) makes sure the image exists before your target, and
# the aggregate target tarnwick-test-volumes builds them all.
#
#   tarnwick_bench_volume(FILES <n> [DIRS <d>] [SEED <s>] [IMAGE_VAR <var>]
#                         [EXPECTED_VAR <var>] [TARGET_VAR <var>])
#
# gives a generated volume of <n> files (in <d> directories; by default one
# per 60 files) in ${TARNWICK_VOLUMES_CACHE} (default <repo>/volumes-cache,
# outside git) through the target tarnwick-bench-volume-<n>[-dirs<d>]-<s>,
# which is not part of the default build.

set(TARNWICK_VOLUMES_SOURCE_DIR ${PROJECT_SOURCE_DIR}/tests/volumes CACHE INTERNAL "")
set(TARNWICK_VOLUMES_BINARY_DIR ${CMAKE_BINARY_DIR}/volumes CACHE INTERNAL "")
set(TARNWICK_VOLUMES_CACHE ${PROJECT_SOURCE_DIR}/volumes-cache CACHE PATH
    "Where generated benchmark volumes are kept between builds")

if(NOT TARGET tarnwick-test-volumes)
  add_custom_target(tarnwick-test-volumes ALL)
endif()

function(tarnwick_test_volume name)
  cmake_parse_arguments(V "" "IMAGE_VAR;EXPECTED_VAR;INDEX_NAMES_VAR;TARGET_VAR" "" ${ARGN})
  set(desc ${TARNWICK_VOLUMES_SOURCE_DIR}/${name}.vol)
  set(img ${TARNWICK_VOLUMES_BINARY_DIR}/${name}.img)
  set(exp ${TARNWICK_VOLUMES_BINARY_DIR}/${name}.expected.tsv)
  set(idx ${TARNWICK_VOLUMES_BINARY_DIR}/${name}.index-names.tsv)
  if(NOT EXISTS ${desc})
    message(FATAL_ERROR "tarnwick_test_volume: no description ${desc}")
  endif()
  get_property(defined GLOBAL PROPERTY TARNWICK_VOLUME_${name}_DEFINED)
  if(NOT defined)
    set_property(GLOBAL PROPERTY TARNWICK_VOLUME_${name}_DEFINED TRUE)
    add_custom_command(
      OUTPUT ${img} ${exp} ${idx}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${TARNWICK_VOLUMES_BINARY_DIR}
      COMMAND $<TARGET_FILE:tarnwick-volume-builder> build ${desc} ${img}
              --expected ${exp} --index-names ${idx} --strict
      DEPENDS ${desc} tarnwick-volume-builder
      COMMENT "Building NTFS test volume ${name}"
      VERBATIM)
    add_custom_target(tarnwick-volume-${name} DEPENDS ${img} ${exp} ${idx})
    add_dependencies(tarnwick-test-volumes tarnwick-volume-${name})
  endif()
  if(V_IMAGE_VAR)
    set(${V_IMAGE_VAR} ${img} PARENT_SCOPE)
  endif()
  if(V_EXPECTED_VAR)
    set(${V_EXPECTED_VAR} ${exp} PARENT_SCOPE)
  endif()
  if(V_INDEX_NAMES_VAR)
    set(${V_INDEX_NAMES_VAR} ${idx} PARENT_SCOPE)
  endif()
  if(V_TARGET_VAR)
    set(${V_TARGET_VAR} tarnwick-volume-${name} PARENT_SCOPE)
  endif()
endfunction()

function(tarnwick_bench_volume)
  cmake_parse_arguments(V "" "FILES;DIRS;SEED;IMAGE_VAR;EXPECTED_VAR;TARGET_VAR" "" ${ARGN})
  if(NOT V_FILES)
    message(FATAL_ERROR "tarnwick_bench_volume: FILES is required")
  endif()
  if(NOT V_SEED)
    set(V_SEED 1)
  endif()
  set(shape ${V_FILES})
  set(dirs_args)
  if(V_DIRS)
    set(shape ${V_FILES}-dirs${V_DIRS})
    set(dirs_args --dirs ${V_DIRS})
  endif()
  set(stem ${TARNWICK_VOLUMES_CACHE}/generated-${shape}-seed${V_SEED})
  set(target tarnwick-bench-volume-${shape}-${V_SEED})
  if(NOT TARGET ${target})
    add_custom_command(
      OUTPUT ${stem}.img ${stem}.expected.tsv
      COMMAND ${CMAKE_COMMAND} -E make_directory ${TARNWICK_VOLUMES_CACHE}
      COMMAND $<TARGET_FILE:tarnwick-volume-builder> generate ${stem}.img --files ${V_FILES} ${dirs_args}
              --seed ${V_SEED} --expected ${stem}.expected.tsv --verbose
      DEPENDS tarnwick-volume-builder
      COMMENT "Generating benchmark volume of ${shape} files (seed ${V_SEED})"
      VERBATIM)
    add_custom_target(${target} DEPENDS ${stem}.img ${stem}.expected.tsv)
  endif()
  if(V_IMAGE_VAR)
    set(${V_IMAGE_VAR} ${stem}.img PARENT_SCOPE)
  endif()
  if(V_EXPECTED_VAR)
    set(${V_EXPECTED_VAR} ${stem}.expected.tsv PARENT_SCOPE)
  endif()
  if(V_TARGET_VAR)
    set(${V_TARGET_VAR} ${target} PARENT_SCOPE)
  endif()
endfunction()
