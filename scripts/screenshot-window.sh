#!/usr/bin/env bash
# Takes a screenshot of the real window under a private Xvfb server, for the README.
#   scripts/screenshot-window.sh build/vantrel docs/window.png
# The window is opened on a job and a test clip, as `vantrel job.json clip.mov`
# would from a file manager, so the picture shows a window ready to export.
set -euo pipefail

program=$(realpath "$1")
output=$(realpath -m "$2")
work=$(mktemp -d)
trap '{ kill "${app:-}" && wait "$app"; kill "${xvfb:-}"; } 2>/dev/null || true; rm -rf "$work"' EXIT

# A look strong enough to see at the preview's split line: an S-curve on luma,
# shadows towards teal and highlights towards orange, as a 17-point cube.
awk 'BEGIN {
  n = 17
  printf "{\"version\": 1, \"grade\": {\"lutCube\": \"LUT_3D_SIZE %d\\n", n
  for (b = 0; b < n; b++) for (g = 0; g < n; g++) for (r = 0; r < n; r++) {
    R = r / (n - 1); G = g / (n - 1); B = b / (n - 1)
    y = 0.2126 * R + 0.7152 * G + 0.0722 * B
    k = y * y * (3 - 2 * y) - y
    R += k + 0.10 * (y - 0.5); G += k + 0.02 * (y - 0.5); B += k - 0.12 * (y - 0.5)
    R = R < 0 ? 0 : R > 1 ? 1 : R; G = G < 0 ? 0 : G > 1 ? 1 : G; B = B < 0 ? 0 : B > 1 ? 1 : B
    printf "%.5f %.5f %.5f\\n", R, G, B
  }
  printf "\"}}\n"
}' > "$work/teal-orange.json"
ffmpeg -nostdin -loglevel error -y -f lavfi \
  -i mandelbrot=size=1280x720:rate=25:start_scale=0.8:end_scale=0.7 -frames:v 50 \
  -c:v libx264 -pix_fmt yuv420p "$work/coastline.mov"

# A display number nobody uses; Xvfb reports the one it took.
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 1024x1100x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb

cd "$work"
"$program" teal-orange.json coastline.mov &
app=$!
# Wait until the window is mapped and drawn. Qt also makes an unmapped window
# titled like the application; only the viewable one can be captured.
viewable() {
  for candidate in $(xwininfo -root -tree 2>/dev/null | awk '/"Vantrel"/ {print $1}'); do
    if xwininfo -id "$candidate" | grep -q IsViewable; then
      echo "$candidate"
      return
    fi
  done
}
id=
for _ in $(seq 100); do
  id=$(viewable)
  [ -n "$id" ] && break
  sleep 0.1
done
if [ -z "$id" ]; then
  echo "screenshot-window: the window did not appear" >&2
  exit 1
fi
sleep 2 # the preview grades its first frame
xwd -silent -id "$id" | convert xwd:- "png:$output"
echo "wrote $output"
