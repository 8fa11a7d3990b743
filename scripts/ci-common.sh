# Sourced by the scripts/ci-* jobs. Runs them from the repository root, keeps
# ccache hits across clones in other folders (CI builds a fresh clone each
# run), and gives each job one configure-and-build step in a build folder of
# its own.
cd "$(dirname "${BASH_SOURCE[0]}")/.."
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
SANITIZERS_DIR="$PWD/sanitizers"
# Each job builds in $BUILD_PREFIX-<job>.
BUILD_PREFIX=${RAVEL_CI_BUILD_PREFIX:-build-ci}

# ci_build DIR [CMAKE_ARG...] [-- TARGET...]
# Configures DIR with Ninja and the given arguments, then builds the targets
# (everything when none are given).
ci_build() {
  local dir=$1 args=() targets=()
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  targets=("$@")
  scripts/install-deps
  cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
  if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$dir" -j2 --target "${targets[@]}"
  else
    cmake --build "$dir" -j2
  fi
}

# ci_step NAME CMD...: runs CMD and prints how long it took (a failure ends
# the calling script, as set -e does).
ci_step() {
  local name=$1 start=$SECONDS
  shift
  echo "== $name"
  "$@"
  echo "== $name: passed in $((SECONDS - start)) s"
}
