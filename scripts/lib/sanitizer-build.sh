# Sourced by the sanitizer steps of CI. Their builds are at -O1 with line
# tables, as the sanitizers advise: every access is still checked and every
# report keeps its lines, and the build takes much less time than at -O2 with
# full debug information.
sanitizer_build_flags=(
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_WARNINGS_AS_ERRORS=OFF
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
)
