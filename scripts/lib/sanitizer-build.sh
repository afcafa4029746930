# Sourced by the sanitizer steps of CI. Their builds are at -O1 with line
# tables, as the sanitizers advise: every access is still checked and every
# report keeps its lines, and the build takes much less time than at -O2 with
# full debug information. They are unity builds too, a few sources compiled
# as one (the AddressSanitizer build in 109 s instead of 182): names private
# to a source must therefore differ from those of the other sources of its
# program, which these builds check.
sanitizer_build_flags=(
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_WARNINGS_AS_ERRORS=OFF -DCMAKE_UNITY_BUILD=ON
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
)
