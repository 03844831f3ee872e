#!/usr/bin/env bash
# Takes a screenshot of the real window under a private Xvfb server, for the README.
#   scripts/screenshot-window.sh build/vantrel docs/window.png
# The window is opened on a sample job and a test clip, as `vantrel job.json clip.mov`
# would from a file manager, so the picture shows a window ready to export.
set -euo pipefail

program=$(realpath "$1")
output=$(realpath -m "$2")
work=$(mktemp -d)
trap 'kill "${app:-}" "${xvfb:-}" 2>/dev/null || true; rm -rf "$work"' EXIT

cp "$(dirname "$0")/../samples/sample-job.json" "$work/warm-film.json"
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=320x180:rate=25 -frames:v 5 \
  -c:v libx264 -pix_fmt yuv420p "$work/beach-sunset.mov"

# A display number nobody uses; Xvfb reports the one it took.
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb

cd "$work"
"$program" warm-film.json beach-sunset.mov &
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
sleep 1
xwd -silent -id "$id" | convert xwd:- "png:$output"
echo "wrote $output"
