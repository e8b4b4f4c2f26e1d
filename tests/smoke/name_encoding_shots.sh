#!/usr/bin/env bash
# Pictures of an archive whose names Info-ZIP's zip stored as Shift-JIS bytes, as the window
# lists it, with View > Name Encoding open, and after "Western European (DOS, CP437)" is
# chosen; for a person to look at. Needs a font with the glyphs (fonts-noto-cjk).
#   name_encoding_shots.sh PROGRAM OUTDIR
set -euo pipefail

if [ "${1:-}" = "--inside" ]; then
  program=$2 out=$3 archive=$4
  "$program" "$archive" >"$out/program.log" 2>&1 &
  pid=$! window=""
  for _ in $(seq 1 150); do
    window=$(xwininfo -root -tree | grep -F "\"Quelt - [$archive]\"" | awk '{print $1}' | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.2
  done
  [ -n "$window" ] || { echo "no window for $archive"; kill "$pid"; exit 1; }
  sleep 2  # let it paint
  import -window root "$out/names-detected.png"
  # No window manager: focus by hand, then click View (the fourth menu) and its submenu.
  xdotool windowfocus "$window"
  sleep 0.3
  xdotool mousemove --window "$window" 178 8 click 1
  sleep 1
  xdotool mousemove --window "$window" 200 30
  sleep 1.5
  import -window root "$out/names-menu.png"
  xdotool mousemove --window "$window" 400 75 click 1  # the CP437 item
  sleep 1.5
  import -window root "$out/names-cp437.png"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  ls "$out"/names-*.png
  exit 0
fi

program=$1 out=$2
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/jp" <<'PY'
import os, sys
root = sys.argv[1].encode()
os.makedirs(os.path.join(root, "新しいフォルダ".encode("cp932")))
for name in ["会議資料.txt", "ソフトウェア仕様書.txt", "表計算.xls", "新しいフォルダ/見積書.xls",
             "お知らせ.txt", "議事録.pdf", "写真.jpg"]:
    with open(os.path.join(root, name.encode("cp932")), "wb") as f:
        f.write(name.encode("utf-8") * 20)
PY
(cd "$work/jp" && LC_ALL=C zip -qr "$work/japanese.zip" .)
export QUELT_CONFIG_HOME="$work/cfg" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8
xvfb-run -a -s "-screen 0 1100x700x24 -noreset" bash "$0" --inside "$program" "$out" "$work/japanese.zip"
