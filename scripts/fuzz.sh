#!/usr/bin/env bash
# The fuzz targets (fuzz/): libFuzzer with clang, AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   scripts/fuzz.sh build                   builds every target in build/fuzz
#   scripts/fuzz.sh replay                  runs every kept corpus (fuzz/corpus/<target>) once
#   scripts/fuzz.sh run SECONDS [TARGET...] fuzzes each target for SECONDS, starting from its kept
#                                           corpus (and the shared bitmap suite where it reads
#                                           bitmaps); the grown corpus stays in
#                                           build/fuzz/work/<target>, findings in
#                                           build/fuzz/findings/<target>
#   scripts/fuzz.sh merge TARGET            minimises the grown corpus into fuzz/corpus/<target>
#   scripts/fuzz.sh cuts                    makes the seeds (fuzz/make-seeds.sh) and every seed and
#                                           kept input cut at many lengths (fuzz/cut-seeds.sh)
#                                           into build/fuzz/cuts/<format>, which run and replay
#                                           then give the targets comparing two reads
#
# Without TARGET every built target is taken. Any finding makes the command fail.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/fuzz

targets() {
  if [ $# -gt 0 ]; then
    printf '%s\n' "$@"
  else
    find "$build" -maxdepth 1 -name '*_fuzzer' -type f -executable -printf '%f\n' | sort
  fi
}

# The options every run shares: a slow input is a finding after 25 s (the machine is shared),
# and no input may take more than 2 GiB.
common=(-timeout=25 -rss_limit_mb=2048)
# The cut seeds of the targets that compare two reads of a file, when made (see cuts).
cuts_of() {
  case $1 in
    png_rows_fuzzer | png_deep_fuzzer) echo "$build/cuts/png" ;;
    jpeg_rows_fuzzer) echo "$build/cuts/jpeg" ;;
    tiff_deep_fuzzer) echo "$build/cuts/tiff" ;;
  esac
}

# Leaks inside the codec libraries themselves are not ours to mend (scripts/lsan-suppressions.txt).
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan-suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}

case ${1:-} in
  build)
    cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build"
    ;;
  replay)
    for target in $(targets); do
      corpus=fuzz/corpus/$target
      if [ ! -d "$corpus" ]; then
        echo "fuzz: $target has no kept corpus" >&2
        exit 1
      fi
      start=$SECONDS
      cuts=$(cuts_of "$target")
      [ -n "$cuts" ] && [ -d "$cuts" ] || cuts=
      "$build/$target" "${common[@]}" -runs=0 "$corpus" ${cuts:+"$cuts"} \
        >"$build/$target.replay.log" 2>&1 || {
        tail -n 40 "$build/$target.replay.log"
        echo "fuzz: replaying $corpus failed" >&2
        exit 1
      }
      echo "fuzz: replayed $(ls "$corpus" | wc -l) inputs of $target in $((SECONDS - start)) s"
    done
    ;;
  run)
    seconds=${2:?seconds}
    shift 2
    for target in $(targets "$@"); do
      work=$build/work/$target
      findings=$build/findings/$target
      mkdir -p "$work" "$findings"
      cp -n fuzz/corpus/"$target"/* "$work"/ 2>/dev/null || true
      seeds=()
      case $target in
        reader_fuzzer | bitmap_roundtrip_fuzzer | png_roundtrip_fuzzer)
          [ -d ../shared/bmpsuite ] && seeds=(../shared/bmpsuite/g ../shared/bmpsuite/q ../shared/bmpsuite/b)
          ;;
      esac
      cuts=$(cuts_of "$target")
      [ -n "$cuts" ] && [ -d "$cuts" ] && seeds+=("$cuts")
      "$build/$target" "${common[@]}" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$work" "${seeds[@]}" >"$build/$target.run.log" 2>&1 || {
        tail -n 60 "$build/$target.run.log"
        echo "fuzz: $target found a fault; the input is in $findings" >&2
        exit 1
      }
      echo "fuzz: $target $(grep -E '^#[0-9]+[[:space:]]+DONE' "$build/$target.run.log" | tail -n 1)"
    done
    ;;
  cuts)
    rm -rf "$build/seeds" "$build/cuts"
    fuzz/make-seeds.sh "$build/seeds" >/dev/null
    fuzz/cut-seeds.sh "$build/cuts/png" "$build/seeds/png" fuzz/corpus/png_rows_fuzzer \
      fuzz/corpus/png_deep_fuzzer fuzz/corpus/png_fuzzer
    fuzz/cut-seeds.sh "$build/cuts/jpeg" "$build/seeds/jpeg" fuzz/corpus/jpeg_rows_fuzzer
    fuzz/cut-seeds.sh "$build/cuts/tiff" "$build/seeds/tiff" fuzz/corpus/tiff_deep_fuzzer \
      fuzz/corpus/tiff_fuzzer
    ;;
  merge)
    target=${2:?target}
    mkdir -p fuzz/corpus/"$target"
    "$build/$target" "${common[@]}" -merge=1 fuzz/corpus/"$target" "$build/work/$target"
    ;;
  *)
    sed -n '2,17p' "$0" >&2
    exit 2
    ;;
esac
