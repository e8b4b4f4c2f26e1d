#!/usr/bin/env bash
# Takes a picture of each of the window's dialogs on a virtual X display, for a person to
# look at:  dialog_shots.sh GALLERY-PROGRAM OUTDIR
set -euo pipefail

if [ "${1:-}" = "--inside" ]; then
  gallery=$2 out=$3 sample=$4
  shoot() {  # name, window title
    "$gallery" "$1" "$sample" >"$out/$1.log" 2>&1 &
    local pid=$! window=""
    for _ in $(seq 1 100); do
      # The last window of that title that is on screen: a hidden one of the same title
      # (the main window behind a box with its caption) cannot be pictured.
      for candidate in $(xwininfo -root -tree | grep -F "\"$2\"" | awk '{print $1}' || true); do
        if xwininfo -id "$candidate" | grep -q IsViewable; then window=$candidate; fi
      done
      [ -n "$window" ] && break
      sleep 0.2
    done
    sleep 1  # let it paint
    if [ -n "$window" ]; then
      import -window "$window" "$out/$1.png"
      echo "$out/$1.png"
    else
      echo "no window '$2' for $1"
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  }
  shoot output "Zip Messages"
  shoot add "Add Files"
  shoot add-advanced "Add Files"
  shoot extract "Select Extract Directory"
  shoot extract-advanced "Select Extract Directory"
  shoot password "Password"
  shoot bad-password "Invalid Password"
  shoot incomplete "Incomplete Zip File!"
  shoot next-disk "Spanning"
  shoot browse "Select Folder"
  shoot wildcard "Add Wildcard (for example *.exe)"
  shoot sfx "Create Self-Extracting ZIP"
  shoot sfx-dos "Create Self-Extracting ZIP"
  shoot options "Options"
  shoot options-antivirus "Options"
  shoot info "ZIP Information"
  shoot comment "Editing Zip Comment for holiday-2023.zip"
  shoot new-overwrite "Quelt"
  shoot remove-confirm "Quelt"
  shoot multi-volume "Quelt"
  shoot replace "Confirm Replace"
  shoot delete-confirm "Confirm Delete"
  shoot uu-replace "Confirm"
  shoot uu-done "Information"
  shoot virus-scan "Zip Messages"
  shoot virus-none "Options"
  shoot mail-missing "Quelt"
  shoot drop "Confirm Action"
  shoot assoc "Quelt"
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
mkdir -p "$sample/photos/holiday-2023" "$sample/letters" "$sample/src"
for f in notes.txt todo.txt report.odt budget.ods; do head -c 2000 /dev/urandom >"$sample/$f"; done
# An archive for the commands that run for real, with a file the scanner's signature matches.
mkdir -p "$sample/sigs" "$sample/empty"
printf 'Dear Ann,\nQUELT-TEST-SIGNATURE-1234\n' >"$sample/letters/to-ann.txt"
printf 'Dear Bob,\nall is well.\n' >"$sample/letters/to-bob.txt"
(cd "$sample/letters" && zip -q correspondence.zip to-ann.txt to-bob.txt)
echo "Quelt.Test.Sig:0:*:$(printf 'QUELT-TEST-SIGNATURE-1234' | od -An -tx1 | tr -d ' \n')" \
  >"$sample/sigs/quelt.ndb"
# Texts for the editor, opened from an archive through the real command.
mkdir -p "$sample/texts-src/letters/2023" "$sample/texts-src/site"
cat >"$sample/texts-src/letters/2023/Notes.txt" <<'TXT'
Meeting notes, 14 March 2023

1. The budget for the spring fair stays as planned.
2. Posters go up on Monday; Anna brings the tape.
3. Next meeting: Thursday at seven, in the back room.

Open questions:
- Who collects the chairs from the school?
- Does the budget cover the sound system?
TXT
cat >"$sample/texts-src/site/index.html" <<'TXT'
<!DOCTYPE html>
<html lang="en">
<head><title>Spring fair</title></head>
<body class="main">
  <h1>Spring fair 2023</h1>
  <p>Saturday, 1 April, from ten o'clock. <a href="map.html">How to get there</a></p>
</body>
</html>
TXT
(cd "$sample/texts-src" && zip -qr "$sample/texts.zip" letters site)
export QUELT_CONFIG_HOME="$sample/cfg" XDG_CACHE_HOME="$sample/cache" QT_QPA_PLATFORM=xcb \
  LC_ALL=C.UTF-8
xvfb-run -a -s "-screen 0 1280x900x24 -noreset" bash "$0" --inside "$gallery" "$out" "$sample"
