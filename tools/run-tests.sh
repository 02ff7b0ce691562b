#!/usr/bin/env bash
# The project's checks, in stages. With no stage named, every stage runs in
# this order (this is what CI runs):
#   format   every C and C++ source laid out as the committed .clang-format says
#   build    the tree built by g++ with warnings as errors (preset ci)
#   test     that build's tests (builds it first when it is not up to date)
#   package  the Debian packages built, checked with lintian, unpacked and
#            run (tools/check-packages.sh)
#   clang    the tree built by clang with warnings as errors, and its tests
#   tidy     clang-tidy (the committed .clang-tidy, findings are errors) on
#            the clang build's compile commands
#   asan     the tree built with ASan+UBSan (preset dev), and its tests
#   tsan     the worker, dialog and driver threading tests under
#            ThreadSanitizer
#
# usage: tools/run-tests.sh [--changed[=REF]] [STAGE...]
#   STAGE...         only these stages (still in the order above)
#   --changed[=REF]  tidy only the sources changed since the merge base of
#                    HEAD and REF (default main), uncommitted and new files
#                    included, and the sources that include a changed header
# TABROOK_SKIP_SANITIZERS=1 leaves out asan and tsan when no stage is named.
# Each run ends with the wall and CPU time of each stage it ran.
set -euo pipefail
cd "$(dirname "$0")/.."

all_stages=(format build test package clang tidy asan tsan)
changed_base=""
wanted=()
for arg in "$@"; do
  case $arg in
    --changed) changed_base=main ;;
    --changed=*) changed_base=${arg#--changed=} ;;
    -h | --help)
      sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
      exit 0
      ;;
    *)
      [[ " ${all_stages[*]} " == *" $arg "* ]] || {
        echo "run-tests: unknown stage \"$arg\" (stages: ${all_stages[*]})" >&2
        exit 2
      }
      wanted+=("$arg")
      ;;
  esac
done
if [ ${#wanted[@]} -eq 0 ]; then
  wanted=("${all_stages[@]}")
  if [ "${TABROOK_SKIP_SANITIZERS:-0}" = 1 ]; then
    wanted=(format build test package clang tidy)
  fi
fi

tools/setup.sh
jobs=$(nproc)

# configure_and_build PRESET: the preset's build tree, up to date.
configure_and_build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j"$jobs"
}

stage_format() {
  git ls-files -z -- '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
}

stage_build() {
  configure_and_build ci
}

stage_test() {
  configure_and_build ci
  ctest --preset ci -j"$jobs"
}

stage_package() {
  tools/check-packages.sh
}

stage_clang() {
  configure_and_build clang
  ctest --preset clang -j"$jobs"
}

# The sources changed since the merge base with $changed_base (uncommitted
# and new files included) and the sources that include a changed header,
# directly or through other headers (a header is named as "folder/name.h",
# or by its name alone from its own folder).
changed_sources() {
  local base file includer files=() headers=() seen=" "
  base=$(git merge-base HEAD "$changed_base")
  while IFS= read -r file; do
    case $file in
      *.c | *.cpp) files+=("$file") ;;
      *.h) headers+=("$file") ;;
    esac
  done < <({
    git diff --name-only --diff-filter=d "$base" --
    git ls-files --others --exclude-standard
  } | sort -u)
  while [ ${#headers[@]} -gt 0 ]; do
    file=${headers[0]}
    headers=("${headers[@]:1}")
    [[ "$seen" != *" $file "* ]] || continue
    seen+="$file "
    while IFS= read -r includer; do
      case $includer in
        *.h) headers+=("$includer") ;;
        *) files+=("$includer") ;;
      esac
    done < <({
      git grep --untracked -l -F "\"$file\"" || true
      git grep --untracked -l -F "\"$(basename "$file")\"" -- "$(dirname "$file")/" || true
    } | grep -E '\.(c|cpp|h)$' | sort -u)
  done
  [ ${#files[@]} -eq 0 ] || printf '%s\n' "${files[@]}" | sort -u
}

# The code generators (Qt's moc) of the clang build whose output the given
# sources include; every one when no source is given.
generators_for() {
  /usr/bin/python3 - build/clang/compile_commands.json "$@" <<'EOF'
import json, re, sys
wanted = set(sys.argv[2:])
found = set()
for entry in json.load(open(sys.argv[1], encoding="utf-8")):
    if not wanted or entry["file"] in wanted:
        found.update(re.findall(r"/(\w+_autogen)/include", entry["command"]))
print("\n".join(sorted(found)))
EOF
}

stage_tidy() {
  cmake --preset clang >/dev/null
  local sources=() patterns=() includers=() generators source
  if [ -z "$changed_base" ]; then
    patterns=("^(?!$PWD/build/)")
    generators=$(generators_for)
  else
    mapfile -t sources < <(changed_sources)
    if [ ${#sources[@]} -eq 0 ]; then
      echo "tidy: no C or C++ source changed since $(git merge-base HEAD "$changed_base")"
      return
    fi
    echo "tidy: ${sources[*]}"
    for source in "${sources[@]}"; do
      patterns+=("^$(sed 's/[][\.*^$+?(){}|]/\\&/g' <<<"$PWD/$source")\$")
      ! grep -q -E '^#include "(moc_.*|.*\.moc)"' "$source" || includers+=("$PWD/$source")
    done
    generators=""
    [ ${#includers[@]} -eq 0 ] || generators=$(generators_for "${includers[@]}")
  fi
  # shellcheck disable=SC2086 # one target per word
  [ -z "$generators" ] || cmake --build build/clang -j"$jobs" --target $generators
  run-clang-tidy -p build/clang -j"$jobs" -quiet "${patterns[@]}" >build/clang/tidy.log 2>&1 ||
    { sed 's/\x1b\[[0-9;]*m//g' build/clang/tidy.log | grep -E -A3 'error:'; return 1; }
}

stage_asan() {
  configure_and_build dev
  ctest --preset dev -j"$jobs"
}

stage_tsan() {
  # The worker and the dialog under ThreadSanitizer.
  configure_and_build tsan
  ctest --preset tsan -j"$jobs"
  # The driver's threading tests under ThreadSanitizer: one connection used
  # from several threads, called directly and through unixODBC (Threading =
  # 2, as registered: at 0 and 1 unixODBC itself races, see xlsodbc/README.md).
  cmake --build build/tsan -j"$jobs" --target xlsodbc_direct_tests xlsodbc_dm_tests
  TSAN_OPTIONS="halt_on_error=1:suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir build/tsan -R '^xlsodbc_(direct|dm)\..*Threads' \
    --output-on-failure
}

# The CPU time of this shell's children so far, in seconds, in $cpu. The
# builtin runs in this shell (a command substitution would ask a subshell).
times_file=$(mktemp)
trap 'rm -f "$times_file"' EXIT
children_cpu() {
  times >"$times_file"
  cpu=$(awk 'NR == 2 {
    s = 0
    for (i = 1; i <= NF; i++) { split($i, ms, "m"); s += ms[1] * 60 + ms[2] }
    printf "%.1f", s }' "$times_file")
}

summary=()
for stage in "${all_stages[@]}"; do
  [[ " ${wanted[*]} " == *" $stage "* ]] || continue
  echo "== $stage"
  start=$(date +%s.%N)
  children_cpu
  cpu_start=$cpu
  "stage_$stage"
  children_cpu
  summary+=("$(awk -v s="$stage" -v a="$start" -v b="$(date +%s.%N)" -v c="$cpu_start" -v d="$cpu" \
    'BEGIN { printf "%-8s %7.1f s wall %8.1f s CPU", s, b - a, d - c }')")
done
echo "== time by stage"
printf '%s\n' "${summary[@]}"
