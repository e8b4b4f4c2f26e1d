#!/usr/bin/env bash
# Starts the real program on a virtual X display with an archive named on its command line,
# waits for the window "Quelt - [path]", takes a screenshot, checks that the listing holds the
# archive's rows, then ends the program with its Exit shortcut and checks it saved its settings.
#   window_smoke.sh PROGRAM WORKDIR
set -euo pipefail

if [ "${1:-}" = "--inside" ]; then
  program=$2 archive=$3 work=$4
  # Unquoted on purpose: the program joins its arguments with single spaces.
  # shellcheck disable=SC2086
  "$program" $archive >"$work/program.log" 2>&1 &
  pid=$!
  title="Quelt - [$archive]"
  window=""
  for _ in $(seq 1 150); do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "the program ended early:"; cat "$work/program.log"; exit 1
    fi
    line=$(xwininfo -root -tree | grep -F "\"$title\"" || true)
    if [ -n "$line" ]; then window=$(echo "$line" | awk '{print $1}' | head -n 1); break; fi
    sleep 0.2
  done
  if [ -z "$window" ]; then
    echo "no window titled '$title' appeared"; xwininfo -root -tree | grep -i quelt || true
    kill "$pid"; exit 1
  fi
  for _ in $(seq 1 50); do
    [ -s "$work/listing.txt" ] && break
    sleep 0.2
  done
  sleep 1  # let the listing paint
  import -window root "$work/screen.png"

  # No window manager runs here: give the window the focus, then type as the user would.
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
  sleep 0.3
  xdotool key ctrl+x
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "Exit (Ctrl+X) did not end the program"; kill "$pid"; exit 1
  fi
  wait "$pid" || { echo "the program failed:"; cat "$work/program.log"; exit 1; }
  exit 0
fi

program=$1 work=$2
missing=""
for tool in xvfb-run xwininfo xdotool import identify python3; do
  command -v "$tool" >/dev/null || missing="$missing $tool"
done
if [ -n "$missing" ]; then
  echo "missing:$missing (scripts/install-deps.sh installs them)"
  exit 1
fi

rm -rf "$work"
mkdir -p "$work/My Files"
archive="$work/My Files/smoke test.zip"
python3 - "$archive" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr(zipfile.ZipInfo("readme.txt", (2021, 3, 4, 5, 6, 8)), "hello " * 200)
    z.writestr(zipfile.ZipInfo("docs/guide;part1.txt", (2020, 1, 2, 3, 4, 6)), "x" * 5000)
    z.writestr(zipfile.ZipInfo("bin/tool", (2019, 12, 31, 23, 59, 58)), bytes(range(256)) * 10)
EOF

export QUELT_CONFIG_HOME="$work/cfg" QUELT_LISTING_DUMP="$work/listing.txt"
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --inside "$program" "$archive" "$work"

fail=0
check() {
  if ! grep -qF -- "$2" "$work/listing.txt"; then echo "listing lacks $1: $2"; fail=1; fi
}
echo "listing:"; cat "$work/listing.txt"
[ "$(wc -l <"$work/listing.txt")" -eq 3 ] || { echo "expected 3 rows"; fail=1; }
tab=$'\t'
check "readme.txt" "readme.txt${tab}"
check "the name with a semicolon in its own column" "guide;part1.txt${tab}"
check "the folder column" "${tab}docs\\"
check "the size of tool" "tool${tab}"
check "a size" "${tab}5000${tab}"

# A blank screen has one colour; a drawn window has many.
colours=$(identify -format %k "$work/screen.png")
echo "screenshot $work/screen.png: $colours colours"
[ "$colours" -gt 20 ] || { echo "the screenshot looks blank"; fail=1; }

grep -qF '"Width"=' "$work/cfg/settings.reg" || { echo "the window did not save its settings"; fail=1; }
grep -qF "\"last1\"=\"$archive\"" "$work/cfg/settings.reg" || { echo "recent files not saved"; fail=1; }
exit $fail
