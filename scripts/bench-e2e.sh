#!/usr/bin/env bash
# End-to-end cost of an export next to the encoder alone and to ffmpeg's own
# grading pipeline, with the same LUT (trilinear), the same x265 settings and
# the same input. Runs are alternated (ours, ffmpeg, encode-only, floor, again…)
# so that load from elsewhere falls on all alike; ratios are of medians. The
# floor is ffmpeg decoding the source and encoding it without any grade (only
# widened to 10 bits): what decoding and encoding cost together in one process.
#
#   scripts/bench-e2e.sh [--pairs N] [--presets "ultrafast medium"] [--sizes "1080 2160"]
#                        [--frames N] [--frames-4k N] [--cli build/vantrel-cli]
set -euo pipefail

pairs=3
presets="ultrafast medium"
sizes="1080 2160"
frames=120
frames4k=60
cli=build/vantrel-cli
while [ $# -gt 0 ]; do
  case "$1" in
    --pairs) pairs=$2; shift 2 ;;
    --presets) presets=$2; shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    --frames) frames=$2; shift 2 ;;
    --frames-4k) frames4k=$2; shift 2 ;;
    --cli) cli=$2; shift 2 ;;
    -h | --help) sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "bench-e2e: unknown option $1" >&2; exit 2 ;;
  esac
done
[ -x "$cli" ] || { echo "bench-e2e: $cli is not built (make build)" >&2; exit 1; }

root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
job="$root/samples/sample-job.json"
lut="$work/look.cube"
# A warm 33-point look, red fastest.
awk 'BEGIN { n = 33; print "LUT_3D_SIZE " n
  for (b = 0; b < n; b++) for (g = 0; g < n; g++) for (r = 0; r < n; r++)
    printf "%.6f %.6f %.6f\n", 0.02 + 0.97 * (r / (n - 1)) ^ 0.9, g / (n - 1), 0.95 * (b / (n - 1)) ^ 1.1 }' >"$lut"
bitrate=20
kbps=$((bitrate * 1000))
# What our encoder is set up with for 29.97 fps: key frames every 60, closed GOPs,
# no B-frames, a one-second VBV at the average rate.
x265params="log-level=error:open-gop=0:repeat-headers=0:keyint=60:bframes=0:vbv-maxrate=$kbps:vbv-bufsize=$kbps"

# Seconds of wall and CPU time and peak resident kilobytes of one command.
measure() {
  local out=$1; shift
  /usr/bin/time -f '%e %U %S %M' -o "$out.time" "$@" >/dev/null 2>"$out.log" ||
    { cat "$out.log" >&2; exit 1; }
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$out.time"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { print a / b }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-6s %-10s %8s %8s %8s %8s | %8s %8s %8s %8s | %9s %9s | %9s %9s | %9s %9s | %s\n' \
  size preset ours_s ffmpeg_s encode_s floor_s ours_cpu ff_cpu enc_cpu flr_cpu \
  "vs ffmpeg" "(cpu)" "vs encode" "(cpu)" "vs floor" "(cpu)" "peak MB ours/ffmpeg/encode"
for size in $sizes; do
  if [ "$size" = 2160 ]; then w=3840; h=2160; n=$frames4k; else w=1920; h=1080; n=$frames; fi
  src="$work/src-$size.mp4"
  graded="$work/graded-$size.yuv"
  # A test pattern with moving grain, so that the encoder has real work, at a
  # camera-like bitrate (25 Mbit/s at 1080p, 100 at 2160p).
  ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=size=${w}x${h}:rate=30000/1001" \
    -vf "noise=alls=4:allf=t" -frames:v "$n" -c:v libx264 -preset veryfast \
    -b:v $((w * 25 / 1920))M -maxrate $((w * 25 / 1920))M -bufsize $((w * 25 / 1920))M \
    -pix_fmt yuv420p "$src"
  grade="format=gbrpf32le,lut3d=file=$lut:interp=trilinear,scale=out_color_matrix=bt709:out_range=full,format=yuv420p10le"
  ffmpeg -nostdin -loglevel error -y -i "$src" -vf "$grade" -f rawvideo "$graded"
  for preset in $presets; do
    : >"$work/runs"
    for ((i = 0; i < pairs; i++)); do
      ours=$(measure "$work/ours" "$cli" export --quiet --job "$job" --lut "$lut" --input "$src" \
        --output "$work/ours.mp4" --bitrate-mbps "$bitrate" --preset "$preset")
      theirs=$(measure "$work/ffmpeg" ffmpeg -nostdin -y -i "$src" -vf "$grade" -c:v libx265 \
        -preset "$preset" -profile:v main10 -b:v "${bitrate}M" -x265-params "$x265params" \
        -an "$work/ffmpeg.mp4")
      encode=$(measure "$work/encode" ffmpeg -nostdin -y -f rawvideo -pix_fmt yuv420p10le \
        -s "${w}x${h}" -r 30000/1001 -i "$graded" -c:v libx265 -preset "$preset" \
        -profile:v main10 -b:v "${bitrate}M" -x265-params "$x265params" "$work/encode.mp4")
      floor=$(measure "$work/floor" ffmpeg -nostdin -y -i "$src" -vf format=yuv420p10le \
        -c:v libx265 -preset "$preset" -profile:v main10 -b:v "${bitrate}M" \
        -x265-params "$x265params" -an "$work/floor.mp4")
      echo "$ours $theirs $encode $floor" >>"$work/runs"
    done
    col() { awk -v c="$1" '{ print $c }' "$work/runs" | median; }
    # Columns: wall cpu kB for ours (1-3), ffmpeg (4-6), encode-only (7-9), floor (10-12).
    read -r ow oc om fw fc fm ew ec em lw lc _ <<<"$(for c in $(seq 12); do col $c; done | xargs)"
    printf '%-6s %-10s %8.2f %8.2f %8.2f %8.2f | %8.2f %8.2f %8.2f %8.2f | %9.3f %9.3f | %9.3f %9.3f | %9.3f %9.3f | %d/%d/%d\n' \
      "${size}p" "$preset" "$ow" "$fw" "$ew" "$lw" "$oc" "$fc" "$ec" "$lc" \
      "$(ratio "$ow" "$fw")" "$(ratio "$oc" "$fc")" "$(ratio "$ow" "$ew")" "$(ratio "$oc" "$ec")" \
      "$(ratio "$ow" "$lw")" "$(ratio "$oc" "$lc")" \
      $((om / 1024)) $((fm / 1024)) $((em / 1024))
  done
  rm -f "$graded"
done
echo "($pairs alternated runs per figure; ratios of medians; 1080p: $frames frames, 2160p: $frames4k frames, ${bitrate} Mbit/s)"
