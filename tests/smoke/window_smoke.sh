#!/usr/bin/env bash
# The real program on a virtual X display, driven by keys as a user would drive it.
# 1. Opens an archive named on its command line, waits for the window "Quelt - [path]", takes a
#    screenshot, checks that the listing holds the archive's rows, then ends the program with
#    its Exit shortcut and checks it saved its settings.
# 2. Starts on a new archive: answers the offer to create it, adds a folder's files through the
#    Add Files dialog, extracts them through the Extract dialog, keeps screenshots of the output
#    window after each, and checks the archive with unzip and the extracted files byte for byte.
# 3. Opens an archive of a text file, selects its row and presses F9 (Execute): the desktop's
#    xdg-open runs a handler registered in a scratch XDG data folder, which records the path it
#    was given; that must be the copy in the user's private temporary folder.
# 0. Before all that, the first start offers to open ZIP files for the desktop: a screenshot
#    of the question, Yes, and the scratch XDG folders then name Quelt for application/zip.
# 4. Opens an archive holding a picture, selects it and presses F5 (View Image): a screenshot
#    of the viewer, then File > Close, which deletes the temporary copy.
#   window_smoke.sh PROGRAM WORKDIR
set -euo pipefail

# The id of the top-level window titled exactly $1 (other than $2), waiting up to 30 s.
find_window() {
  local title=$1 except=${2:-} id
  for _ in $(seq 1 150); do
    id=$(xwininfo -root -tree | grep -F "\"$title\"" | awk '{print $1}' | grep -v "^${except:-none}\$" |
         head -n 1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.2
  done
  echo "no window titled '$title' appeared" >&2
  xwininfo -root -tree | grep -E '^\s+0x[0-9a-f]+ "' | head -n 20 >&2 || true
  return 1
}

# No window manager runs here: give the window the focus, then type.
keys_to() {
  local window=$1
  shift
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
  sleep 0.3
  xdotool key "$@"
}

# Waits up to 60 s for a command to succeed.
wait_for() {
  for _ in $(seq 1 300); do
    if eval "$1"; then return 0; fi
    sleep 0.2
  done
  echo "gave up waiting for: $1" >&2
  return 1
}

end_program() {
  local pid=$1 window=$2
  keys_to "$window" ctrl+x
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "Exit (Ctrl+X) did not end the program"; kill "$pid"; return 1
  fi
  wait "$pid" || { echo "the program failed:"; cat "$work/program.log"; return 1; }
}

open_phase() {
  # Unquoted on purpose: the program joins its arguments with single spaces.
  # shellcheck disable=SC2086
  "$program" $archive >"$work/program.log" 2>&1 &
  local pid=$!
  local window
  window=$(find_window "Quelt - [$archive]") || { kill "$pid"; return 1; }
  wait_for '[ -s "$work/listing.txt" ]'
  sleep 1  # let the listing paint
  import -window root "$work/screen.png"
  end_program "$pid" "$window"
}

make_phase() {
  local made="$work/made/new archive.zip"
  QUELT_LISTING_DUMP="$work/made-listing.txt" "$program" "$made" >"$work/program2.log" 2>&1 &
  local pid=$!
  local main ask error add extract output
  ask=$(find_window "Create New ZIP") || { kill "$pid"; return 1; }
  keys_to "$ask" Return
  main=$(find_window "Quelt - [$made]") || { kill "$pid"; return 1; }
  # The new file cannot be read yet; that error comes next.
  error=$(find_window "Quelt" "$main") || { kill "$pid"; return 1; }
  keys_to "$error" Return
  wait_for '! xwininfo -id "$error" 2>/dev/null | grep -q IsViewable'

  # Add Files: Ctrl+A over the listing, "Add Folder" (Alt+F), then "Add" (Alt+A).
  keys_to "$main" ctrl+a
  add=$(find_window "Add Files") || { kill "$pid"; return 1; }
  keys_to "$add" alt+f
  keys_to "$add" alt+a
  wait_for '[ "$(wc -l <"$work/made-listing.txt" 2>/dev/null || echo 0)" -eq 3 ]'
  output=$(find_window "Zip Messages") || { kill "$pid"; return 1; }
  sleep 1
  import -window "$output" "$work/output-add.png"
  keys_to "$output" Return  # OK hides it

  # Extract: Ctrl+E, then "Extract" (Alt+E) into the remembered folder.
  keys_to "$main" ctrl+e
  extract=$(find_window "Select Extract Directory") || { kill "$pid"; return 1; }
  keys_to "$extract" alt+e
  wait_for '[ -f "$work/out/notes.txt" ] && [ -f "$work/out/data[1].bin" ] && [ -f "$work/out/empty" ]'
  wait_for 'xwininfo -id "$output" | grep -q IsViewable'
  sleep 1
  import -window "$output" "$work/output-extract.png"
  end_program "$pid" "$main"
}

# The shown dialog (a window bound to another; "main": the shown window bound to none) titled
# exactly $1, waiting up to 30 s.
find_dialog() {
  local title=$1 kind=${2:-dialog} id bound
  for _ in $(seq 1 150); do
    for id in $(xwininfo -root -tree | grep -F "\"$title\"" | awk '{print $1}' || true); do
      bound=main
      xprop -id "$id" WM_TRANSIENT_FOR 2>/dev/null | grep -q "window id" && bound=dialog
      if [ "$bound" = "$kind" ] && xwininfo -id "$id" | grep -q IsViewable; then
        echo "$id"; return 0
      fi
    done
    sleep 0.2
  done
  echo "no dialog titled '$title' appeared" >&2
  return 1
}

assoc_phase() {
  "$program" >"$work/program0.log" 2>&1 &
  local pid=$! ask main
  ask=$(find_dialog "Quelt") || { kill "$pid"; return 1; }
  sleep 1
  import -window "$ask" "$work/assoc.png"
  keys_to "$ask" Return  # "Yes" is the default button
  wait_for 'grep -q "application/zip=quelt.desktop" "$XDG_CONFIG_HOME/mimeapps.list" 2>/dev/null'
  main=$(find_dialog "Quelt" main) || { kill "$pid"; return 1; }
  end_program "$pid" "$main"
}

viewer_phase() {
  local zip="$work/pics/pictures.zip" main viewer
  QUELT_LISTING_DUMP="$work/pics-listing.txt" "$program" "$zip" >"$work/program4.log" 2>&1 &
  local pid=$!
  main=$(find_window "Quelt - [$zip]") || { kill "$pid"; return 1; }
  wait_for '[ -s "$work/pics-listing.txt" ]'
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$main")"
  xdotool mousemove $((X + 60)) $((Y + 101)) click 1
  sleep 0.5
  keys_to "$main" F5
  viewer=$(find_window "Quelt ImageViewer - [$work/cache/quelt/sunset.png]") || {
    kill "$pid"; return 1; }
  [ -f "$work/cache/quelt/sunset.png" ] || echo "no copy while the viewer is up" >"$work/viewer-error.txt"
  sleep 1
  import -window "$viewer" "$work/viewer.png"
  keys_to "$viewer" alt+f
  sleep 0.3
  xdotool key c
  wait_for '! xwininfo -id "$viewer" 2>/dev/null | grep -q IsViewable'
  end_program "$pid" "$main"
}

exec_phase() {
  local zip="$work/exec/notes.zip" main
  QUELT_LISTING_DUMP="$work/exec-listing.txt" "$program" "$zip" >"$work/program3.log" 2>&1 &
  local pid=$!
  main=$(find_window "Quelt - [$zip]") || { kill "$pid"; return 1; }
  wait_for '[ -s "$work/exec-listing.txt" ]'
  # A click on the one row (below the menu bar, the toolbar and the header) selects it; F9
  # executes it.
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$main")"
  xdotool mousemove $((X + 60)) $((Y + 101)) click 1
  sleep 0.5
  keys_to "$main" F9
  wait_for '[ -s "$work/opened.txt" ]'
  end_program "$pid" "$main"
}

if [ "${1:-}" = "--inside" ]; then
  program=$2 archive=$3 work=$4
  assoc_phase
  open_phase
  make_phase
  exec_phase
  viewer_phase
  exit 0
fi

program=$1 work=$2
missing=""
for tool in xvfb-run xwininfo xprop xdotool import identify convert python3 unzip xdg-mime; do
  command -v "$tool" >/dev/null || missing="$missing $tool"
done
if [ -n "$missing" ]; then
  echo "missing:$missing (scripts/install-deps.sh installs them)"
  exit 1
fi

rm -rf "$work"
mkdir -p "$work/My Files" "$work/made" "$work/src" "$work/out" "$work/cfg" "$work/exec" "$work/pics" \
  "$work/xdg/data/applications" "$work/xdg/config"
# The desktop's handler for text files, for the Execute phase: it records what it opens.
cat >"$work/xdg/recorder.sh" <<EOF
#!/bin/sh
printf '%s\n' "\$@" >"$work/opened.tmp"
cat "\$1" >"$work/opened-content.txt"
mv "$work/opened.tmp" "$work/opened.txt"
EOF
chmod +x "$work/xdg/recorder.sh"
cat >"$work/xdg/data/applications/quelt-recorder.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Recorder
Exec=$work/xdg/recorder.sh %f
MimeType=text/plain;
EOF
printf '[Default Applications]\ntext/plain=quelt-recorder.desktop\n' >"$work/xdg/config/mimeapps.list"
archive="$work/My Files/smoke test.zip"
python3 - "$archive" "$work/src" <<'EOF'
import os, random, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr(zipfile.ZipInfo("readme.txt", (2021, 3, 4, 5, 6, 8)), "hello " * 200)
    z.writestr(zipfile.ZipInfo("docs/guide;part1.txt", (2020, 1, 2, 3, 4, 6)), "x" * 5000)
    z.writestr(zipfile.ZipInfo("bin/tool", (2019, 12, 31, 23, 59, 58)), bytes(range(256)) * 10)
src = sys.argv[2]
random.seed(7)
open(os.path.join(src, "notes.txt"), "w").write("a line of notes\n" * 3000)
open(os.path.join(src, "data[1].bin"), "wb").write(bytes(random.getrandbits(8) for _ in range(200000)))
open(os.path.join(src, "empty"), "wb").close()
EOF
python3 - "$work/exec/notes.zip" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("docs/Notes.TXT", "notes to open\n")
EOF
convert -size 320x200 gradient:orange-purple -fill yellow -draw "circle 160,140 160,100" \
  "$work/pics/sunset.png"
(cd "$work/pics" && zip -q pictures.zip sunset.png)
# The Add dialog starts in the last folder it showed, the Extract dialog in the last it used.
cat >"$work/cfg/settings.reg" <<EOF
[HKEY_LOCAL_MACHINE\\SOFTWARE\\Dunmarra\\Quelt]
"LastAddDir"="$work/src"

[HKEY_CURRENT_USER\\SOFTWARE\\Dunmarra\\Quelt]
"LastExtractDir"="$work/out"
EOF

export QUELT_CONFIG_HOME="$work/cfg" QUELT_LISTING_DUMP="$work/listing.txt"
export XDG_CACHE_HOME="$work/cache"
# The desktop's file types are the scratch folders', in every phase.
export XDG_DATA_HOME="$work/xdg/data" XDG_CONFIG_HOME="$work/xdg/config"
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1024x768x24 -noreset" bash "$0" --inside "$program" "$archive" "$work"

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
for shot in assoc screen output-add output-extract viewer; do
  colours=$(identify -format %k "$work/$shot.png")
  echo "screenshot $work/$shot.png: $colours colours"
  [ "$colours" -gt 20 ] || { echo "$shot.png looks blank"; fail=1; }
done

grep -qF '"Width"=' "$work/cfg/settings.reg" || { echo "the window did not save its settings"; fail=1; }
# The Execute and viewer phases opened their archives after it.
grep -qF "\"last3\"=\"$work/made/new archive.zip\"" "$work/cfg/settings.reg" || {
  echo "recent files not saved"; fail=1; }

echo "made in the window:"; cat "$work/made-listing.txt"
unzip -t "$work/made/new archive.zip" || { echo "unzip -t refuses the archive"; fail=1; }
diff -r "$work/src" "$work/out" || { echo "the extracted files differ from the sources"; fail=1; }
echo "the desktop was asked to open:"; cat "$work/opened.txt"
[ "$(cat "$work/opened.txt")" = "$work/cache/quelt/Notes.TXT" ] || {
  echo "Execute opened the wrong path"; fail=1; }
[ "$(cat "$work/opened-content.txt")" = "notes to open" ] || { echo "the copy differs"; fail=1; }
[ "$(stat -c %a "$work/cache/quelt")" = 700 ] || { echo "the temporary folder is not private"; fail=1; }
grep -qF "Exec=$program %f" "$work/xdg/data/applications/quelt.desktop" || {
  echo "the desktop entry does not start the program"; fail=1; }
[ -f "$work/viewer-error.txt" ] && { cat "$work/viewer-error.txt"; fail=1; }
[ -e "$work/cache/quelt/sunset.png" ] && { echo "the viewer left its copy behind"; fail=1; }
exit $fail
