#!/usr/bin/env bash
# Pictures of the text editor opened from an archive, and of its dialogs, on a virtual X
# display, for a person to look at:  editor_shots.sh GALLERY-PROGRAM OUTDIR
set -euo pipefail

if [ "${1:-}" = "--inside" ]; then
  gallery=$2 out=$3 sample=$4
  shoot() {  # name, window title
    "$gallery" "$1" "$sample" >"$out/$1.log" 2>&1 &
    local pid=$! window=""
    for _ in $(seq 1 100); do
      for candidate in $(xwininfo -root -tree | grep -F "\"$2\"" | awk '{print $1}' || true); do
        if xwininfo -id "$candidate" | grep -q IsViewable; then window=$candidate; fi
      done
      [ -n "$window" ] && break
      sleep 0.2
    done
    sleep 1.5  # let it paint
    if [ -n "$window" ]; then
      import -window "$window" "$out/$1.png"
      echo "$out/$1.png"
    else
      echo "no window '$2' for $1"
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  }
  shoot editor "Quelt Edit - [Notes.txt]"
  shoot editor-html "Quelt Edit - [index.html]"
  shoot editor-find "Find"
  shoot editor-replace "Replace"
  shoot editor-goto "Go To Line"
  shoot editor-bookmarks "Bookmarks"
  shoot editor-info "File Info"
  exit 0
fi

gallery=$1 out=$2
mkdir -p "$out"
sample=$(mktemp -d)
trap 'rm -rf "$sample"' EXIT
mkdir -p "$sample/src/letters/2023" "$sample/src/site"
cat >"$sample/src/letters/2023/Notes.txt" <<'TXT'
Meeting notes, 14 March 2023

1. The budget for the spring fair stays as planned.
2. Posters go up on Monday; Anna brings the tape.
3. Next meeting: Thursday at seven, in the back room.

Open questions:
- Who collects the chairs from the school?
- Does the budget cover the sound system?
TXT
cat >"$sample/src/site/index.html" <<'TXT'
<!DOCTYPE html>
<html lang="en">
<head><title>Spring fair</title></head>
<body class="main">
  <h1>Spring fair 2023</h1>
  <p>Saturday, 1 April, from ten o'clock. <a href="map.html">How to get there</a></p>
</body>
</html>
TXT
(cd "$sample/src" && zip -qr "$sample/texts.zip" letters site)
export QUELT_CONFIG_HOME="$sample/cfg" XDG_CACHE_HOME="$sample/cache" QT_QPA_PLATFORM=xcb \
  LC_ALL=C.UTF-8
xvfb-run -a -s "-screen 0 1280x900x24" bash "$0" --inside "$gallery" "$out" "$sample"
