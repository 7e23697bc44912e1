# scripts/build-quietly.sh: sourced by the other scripts. build_quietly LOG BUILD_DIR "TARGETS"
# [CMAKE_ARGS...] configures BUILD_DIR with CMAKE_ARGS (through $TW_CONFIGURE, such as emcmake,
# when set) and builds TARGETS (all when empty), the output into LOG; on failure it shows the
# log's end and returns 1.
build_quietly() {
  local log="$1" dir="$2" targets="$3"
  shift 3
  # shellcheck disable=SC2086
  if ! { ${TW_CONFIGURE:-} cmake -S . -B "$dir" "$@" &&
    cmake --build "$dir" -j"${TW_JOBS:-$(nproc)}" ${targets:+--target $targets}; } >"$log" 2>&1; then
    echo "The build in $dir failed. The end of $log:"
    tail -40 "$log"
    return 1
  fi
}
