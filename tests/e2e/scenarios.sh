#!/usr/bin/env bash
# scenarios.sh NAME: runs one end-to-end scenario of the real launchers under
# Wine and checks, from outside only, what a user and the server would see:
# the demo server's request log, the URLs handed to the browser, the desktop
# folder, the windows, the exit codes and the launchers' run log. The environment names the run
# folder and the programs (see scripts/e2e/harness.sh). Exit 0 when every
# check passed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../scripts/e2e/harness.sh
source "$here/../../scripts/e2e/harness.sh"

PAGE_kestrin="http://localhost:9080/kestrin"
PAGE_kestrin_install="http://localhost:9080/kestrin/demo_install.jsp"
LABEL="Wait please, KESTRIN is starting."

page_of() { local v="PAGE_$1"; echo "${!v}"; }

# watch NAME LIMIT_S: runs c:\kestrin\NAME.exe to its end (or LIMIT_S);
# sets RC, T_WIN (window seen, ms; empty if never) and T_END.
watch() {
  e2e_launch "$1"
  T_WIN=""
  if e2e_wait_x_windows 1 20 >/dev/null; then
    T_WIN=$(e2e_now_ms)
  fi
  e2e_wait_exit "$LAUNCH_PID" "$2"
  RC=$E2E_RC
  T_END=$(e2e_now_ms)
  e2e_settle_urls 1 2
}

# Time of a server log line (its first field).
log_time() { grep -m1 -- "$1" "$E2E_SERVER_LOG" 2>/dev/null | cut -d' ' -f1; }

# The checks of a run that ended on an answer: exit code 0, exactly the
# launcher's page handed over once, CONNS connections of which only the last
# was answered, and nothing after the answer.
expect_answered_run() {
  local name=$1 conns=$2
  expect "exit code" "$RC" 0
  expect "page handed to the browser" "$(e2e_urls)" "$(page_of "$name")"
  expect "connections that reached the server" "$(e2e_connections | grep -c .)" "$conns"
  expect "answered connections" "$(e2e_connections | grep -c ' outcome=answered ')" 1
  expect "the answer was the last connection" \
    "$(e2e_connections | tail -1 | grep -c ' outcome=answered ')" 1
  local answered url
  answered=$(e2e_connections | grep ' outcome=answered ' | cut -d' ' -f1)
  url=$(e2e_url_times | sed -n 1p)
  if [ -n "$answered" ] && [ -n "$url" ] && [ "$url" -ge "$answered" ]; then
    expect_ok "page handed over $((url - answered)) ms after the answer"
  else
    expect_fail "no page handed over after the answer (answer at '$answered', page at '$url')"
  fi
}

ms_since_window() { echo $(($1 - ${T_WIN:-0})); }

# ---- the run log's story ---------------------------------------------------

SERVER_START='server start: c:\kestrin\bin\cmdow.exe /run /hid c:\kestrin\bin\startup.bat'

# Every line starts with the time to the millisecond, program and process id.
expect_run_log_well_formed() {
  expect "run log lines" "$([ -s "$E2E_RUN_LOG" ] && echo present || echo missing)" present
  expect "run log lines without time, program and process id" "$(e2e_run_log_malformed)" 0
}

# The probe lines' outcomes ("probe N took M ms: OUTCOME"), one a line, after
# checking that they are numbered 1, 2, 3...
probe_outcomes() { e2e_run_log_events | sed -n 's/^probe [0-9]* took [0-9]* ms: //p'; }
expect_probes_numbered() {
  local numbers want
  numbers=$(e2e_run_log_events | sed -n 's/^probe \([0-9]*\) took .*/\1/p' | tr '\n' ' ')
  want=$(seq 1 "$(probe_outcomes | grep -c .)" | tr '\n' ' ')
  expect "probe lines numbered in order" "$numbers" "$want"
}

# The story of a run that ended on an answer: started, server start asked
# for (shell result above 32), window shown, failed probes (each with the
# outcome BEFORE, "refused" unless given), then the answer's status line,
# the page and exit code 0, in this order.
expect_answered_run_log() {
  local name=$1 status=$2 before=${3:-refused}
  expect_run_log_well_formed
  local events
  events=$(e2e_run_log_events)
  expect "first event" "$(head -1 <<<"$events" | sed 's/show command [0-9]*/show command N/')" \
    "start: version $KESTRIN_VERSION, show command N"
  local result
  result=$(grep -F "$SERVER_START: shell result " <<<"$events" | sed 's/.*: shell result \([0-9]*\).*/\1/')
  expect "server start logged, successful (shell result above 32)" \
    "$([ -n "$result" ] && [ "$result" -gt 32 ] 2>/dev/null && echo yes || echo "no: '$result'")" yes
  expect "window shown" "$(grep -c '^window shown' <<<"$events")" 1
  expect_probes_numbered
  expect "last probe's outcome" "$(probe_outcomes | tail -1)" "$status"
  expect "outcomes before it not \"$before\"" "$(probe_outcomes | head -n -1 | grep -vcxF "$before")" 0
  expect "the last two events" "$(tail -2 <<<"$events" | sed 's/shell result [0-9]*$/shell result N/' | tr '\n' '|')" \
    "page opened: $(page_of "$name"): shell result N|exit code 0|"
}

# ---------------------------------------------------------------------------

scenario_setup() {
  e2e_reset
  echo "prefix and installation ready in $E2E_DIR"
}

# The server is already up: the first tick (about 1 s after the window shows)
# gets the answer, and one request is all the server sees.
scenario_server_up() {
  local name
  for name in kestrin kestrin_install; do
    echo "$name, server already running:"
    e2e_reset
    e2e_start_server
    watch "$name" 20
    expect_answered_run "$name" 1
    local conn
    conn=$(e2e_connections | sed -n 1p)
    expect "request line" "$(e2e_field "$conn" request)" "GET /kestrin HTTP/1.1"
    expect "request head bytes" "$(e2e_field "$conn" head_bytes)" 148
    expect_range "ms from window to page" "$(ms_since_window "$(e2e_url_times | sed -n 1p)")" 500 2500
    # The launcher still asked for a start: its server found the port taken.
    expect "server starts (ours, the launcher's)" "$(e2e_server_starts)" 2
    expect_answered_run_log "$name" "HTTP/1.1 200 OK"
    expect "probe lines" "$(probe_outcomes | grep -c .)" 1
    if [ "$name" = kestrin_install ]; then
      expect "shortcut written, logged" \
        "$(e2e_run_log_events | grep -c '^shortcut written: [A-Za-z]:\\.*\\KESTRIN\.lnk$')" 1
    fi
    echo "  run log:"
    e2e_run_log | sed 's/^/    /'
  done
}

# The server boots for 3 s after the launcher starts it: the probes before it
# listens are refused, the first one after it is answered.
scenario_server_boots() {
  e2e_reset --delay 3000
  watch kestrin 30
  expect_server_boots_run kestrin
  expect_answered_run_log kestrin "HTTP/1.1 200 OK"
  expect_range "refused probes in the run log" "$(probe_outcomes | grep -cx refused)" 3 6
}

# The checks of a run against a server that boots for 3 s.
expect_server_boots_run() {
  expect_answered_run "$1" 1
  expect "server starts" "$(e2e_server_starts)" 1
  local listening answered
  listening=$(log_time ' listening on ')
  answered=$(e2e_connections | grep ' outcome=answered ' | cut -d' ' -f1)
  expect_range "ms from listening to the answered probe" "$((answered - listening))" 0 1300
  # Ticks fall every 1000 ms from the window's show; all but the last failed.
  local failed=$((($(ms_since_window "$answered") + 500) / 1000 - 1))
  expect_range "probes refused before the answer (ticks)" "$failed" 3 6
}

# Any status line is an answer: 404, 500 and a redirect open the page as 200
# does, and the redirect is not followed.
scenario_status_answers() {
  local name status opts
  while read -r name status opts; do
    echo "$name, server answering $status:"
    e2e_reset
    # shellcheck disable=SC2086
    e2e_start_server --status "$status" $opts
    watch "$name" 20
    expect_answered_run "$name" 1
    expect "status sent" "$(e2e_field "$(e2e_connections | tail -1)" status)" "$status"
  done <<'EOF'
kestrin          404
kestrin          500
kestrin_install  302 --location http://localhost:9080/kestrin/elsewhere
EOF
}

# Connections closed or reset before the answer count as failed probes; the
# answer after them opens the page.
scenario_dropped_connections() {
  local name mode outcome
  while read -r name mode outcome; do
    echo "$name, first 3 connections: $mode:"
    e2e_reset
    e2e_start_server "--$mode" 3
    watch "$name" 30
    expect_answered_run "$name" 4
    expect "dropped connections" "$(e2e_connections | sed -n 1,3p | grep -c " outcome=$outcome ")" 3
    expect_range "ms from window to page" "$(ms_since_window "$(e2e_url_times | sed -n 1p)")" 3000 6500
  done <<'EOF'
kestrin          close  closed_without_answer
kestrin_install  reset  reset
EOF
}

# The server takes the request and never answers, twice: each probe ends at
# the launcher's own bound of 10 s, the next probe follows at once (the ticks
# that fell due meanwhile are merged into one), and the third connection is
# answered.
scenario_silent_server() {
  e2e_reset
  e2e_start_server --silent 2
  watch kestrin 45
  expect_answered_run kestrin 3
  local n line held
  for n in 1 2; do
    line=$(e2e_connections | sed -n "${n}p")
    expect "connection $n" "$(e2e_field "$line" treatment)" silent
    held=$(e2e_field "$line" held_ms)
    expect_range "connection $n held by the launcher (ms)" "$held" 9500 11500
  done
  local end1 start2
  end1=$(e2e_connections | sed -n 1p | cut -d' ' -f1)
  start2=$(grep ' conn=2 .* silent=waiting' "$E2E_SERVER_LOG" | cut -d' ' -f1)
  expect_range "ms from the end of probe 1 to probe 2" "$((start2 - end1))" 0 1500
  expect_answered_run_log kestrin "HTTP/1.1 200 OK" "timed out"
  expect "probe outcomes" "$(probe_outcomes | tr '\n' '|')" "timed out|timed out|HTTP/1.1 200 OK|"
  for n in 1 2; do
    expect_range "probe $n's time in the run log (ms)" \
      "$(e2e_run_log_events | sed -n "s/^probe $n took \([0-9]*\) ms: .*/\1/p")" 9500 11500
  done
}

# Nothing ever answers (the server accepts and closes every connection): 121
# probes, no page, exit code 0, after about 121 s.
scenario_no_answer_ever() {
  e2e_reset
  e2e_start_server --close always
  watch kestrin 200
  expect "exit code" "$RC" 0
  expect "pages handed to the browser" "$(e2e_urls | grep -c .)" 0
  expect "connections that reached the server" "$(e2e_connections | grep -c .)" 121
  expect "connections not closed without answer" \
    "$(e2e_connections | grep -vc ' outcome=closed_without_answer ')" 0
  expect_range "ms from window to exit" "$(ms_since_window "$T_END")" 119000 135000
  expect_run_log_well_formed
  expect_probes_numbered
  expect "probe lines" "$(probe_outcomes | grep -c .)" 121
  expect "probe lines not \"closed\"" "$(probe_outcomes | grep -vcx closed)" 0
  expect "the last two events" "$(e2e_run_log_events | tail -2 | tr '\n' '|')" \
    "gave up after 121 probes without an answer|exit code 0|"
}

# Nothing ever listens (the server started never opens its port): 121
# refused probes, then the launcher gives up silently; its run log tells
# which of the ways to fail it was.
scenario_give_up() {
  e2e_reset --never
  watch kestrin 200
  expect "exit code" "$RC" 0
  expect "pages handed to the browser" "$(e2e_urls | grep -c .)" 0
  expect "connections that reached the server" "$(e2e_connections | grep -c .)" 0
  expect_range "ms from window to exit" "$(ms_since_window "$T_END")" 119000 135000
  expect_run_log_well_formed
  expect_probes_numbered
  expect "probe lines" "$(probe_outcomes | grep -c .)" 121
  expect "probe lines not \"refused\"" "$(probe_outcomes | grep -vcx refused)" 0
  expect "the last two events" "$(e2e_run_log_events | tail -2 | tr '\n' '|')" \
    "gave up after 121 probes without an answer|exit code 0|"
  expect "message boxes logged" "$(e2e_run_log_events | grep -c '^error box')" 0
  echo "  run log, first and last lines:"
  e2e_run_log | head -5 | sed 's/^/    /'
  echo "    ..."
  e2e_run_log | tail -4 | sed 's/^/    /'
}

# A run-log folder that refuses new files changes nothing else: the checks
# of scenario server_boots hold, no box shows, and no log appears.
scenario_unwritable_log() {
  local name
  for name in kestrin kestrin_install; do
    echo "$name, run-log folder refusing new files:"
    e2e_reset --delay 3000
    e2e_freeze_run_log || expect_fail "this file system cannot make the run-log folder refuse new files"
    watch "$name" 30
    expect_server_boots_run "$name"
    expect "message boxes" "$(message_boxes)" 0
    [ "$name" = kestrin_install ] && expect_shortcut
    expect "files in the run-log folder" "$(find "$E2E_RUN_LOG_DIR" -mindepth 1 | wc -l)" 0
    e2e_unfreeze_run_log
  done
}

expect_shortcut() {
  local lnk="$E2E_DESKTOP/KESTRIN.lnk"
  if [ ! -f "$lnk" ]; then
    expect_fail "no KESTRIN.lnk in the desktop folder"
    return
  fi
  expect "shortcut target" "$(e2e_lnk_field "$lnk" 'Local path')" 'c:\kestrin\kestrin.exe'
  expect "shortcut working directory" "$(e2e_lnk_field "$lnk" 'Working directory')" 'c:\kestrin\'
}

# Message boxes shown by the launchers (dialog class, caption "KESTRIN").
message_boxes() { e2e_probe_windows | grep -c '^window .* class="#32770"'; }
has_message_box() { [ "$(message_boxes)" -ge 1 ]; }
no_message_box() { [ "$(message_boxes)" -eq 0 ]; }
# A window captioned KESTRIN, minimised or not (X shows no minimised window).
launcher_window_exists() { e2e_probe_windows | grep '^window ' >/dev/null; }

# kestrin_install writes the shortcut on every run; a desktop folder that
# refuses writing costs the shortcut and nothing else.
scenario_shortcut() {
  echo "first run:"
  e2e_reset
  e2e_start_server
  watch kestrin_install 20
  expect_answered_run kestrin_install 1
  expect_shortcut
  expect "shortcut written, logged" \
    "$(e2e_run_log_events | grep -c '^shortcut written: [A-Za-z]:\\.*\\Desktop\\KESTRIN\.lnk$')" 1

  echo "second run, over a spoilt KESTRIN.lnk:"
  echo "not a shortcut" >"$E2E_DESKTOP/KESTRIN.lnk"
  : >"$E2E_URL_LOG"
  watch kestrin_install 20
  expect "exit code" "$RC" 0
  expect_shortcut

  echo "desktop folder refusing new files:"
  e2e_reset
  e2e_freeze_desktop || expect_fail "this file system cannot make the desktop folder refuse new files"
  e2e_launch kestrin_install
  local boxes=0 seen=0
  while kill -0 "$LAUNCH_PID" 2>/dev/null && [ $(($(e2e_now_ms) - LAUNCH_T0)) -lt 20000 ]; do
    boxes=$((boxes + $(message_boxes)))
    seen=$((seen + 1))
    sleep 0.2
  done
  e2e_wait_exit "$LAUNCH_PID" 5
  RC=$E2E_RC
  e2e_settle_urls 1 2
  e2e_unfreeze_desktop
  expect "message boxes seen (in $seen looks)" "$boxes" 0
  expect "exit code" "$RC" 0
  expect "server starts" "$(e2e_server_starts)" 1
  expect "page handed to the browser" "$(e2e_urls)" "$PAGE_kestrin_install"
  expect "files in the desktop folder" "$(find "$E2E_DESKTOP" -mindepth 1 | wc -l)" 0
  expect "shortcut written elsewhere on c:" \
    "$(find "$WINEPREFIX/drive_c" -maxdepth 3 -name KESTRIN.lnk | wc -l)" 0
  # The log says why there is no shortcut; the rest of the story is as usual.
  expect_answered_run_log kestrin_install "HTTP/1.1 200 OK"
  expect "shortcut not written, logged with the reason" \
    "$(e2e_run_log_events | grep -c '^shortcut not written: [A-Za-z]:\\.*\\Desktop\\KESTRIN\.lnk: ..*')" 1
  echo "  run log:"
  e2e_run_log | sed 's/^/    /'
}

# Without the shell-link class, kestrin_install shows one error box and then
# the waiting window that never changes: no server start, no page; closing
# the window ends it with exit code 0.
scenario_shortcut_class_missing() {
  e2e_reset
  e2e_remove_shell_link_class
  local expected
  expected="$(e2e_wine_out "$E2E_WINPROBE_EXE" syserror 0x80040154)."
  e2e_launch kestrin_install
  local box=""
  e2e_wait_for 20 has_message_box || expect_fail "no message box within 20 s"
  # Time for whatever a wrong continuation would do (start the server, poll).
  sleep 2
  local windows
  windows=$(e2e_probe_windows)
  expect "message boxes" "$(printf '%s\n' "$windows" | grep -c '^window .* class="#32770"')" 1
  expect "message box text" \
    "$(printf '%s\n' "$windows" | sed -n '/^window .*class="#32770"/,/^window /p' |
       grep 'class="Static"' | grep -v 'text=""' | sed -n 1p | sed 's/.* text="\(.*\)" pos=.*/\1/')" \
    "$expected"
  expect "server starts while the box is up" "$(e2e_server_starts)" 0
  # Logged before the box shows: why the shortcut failed, and the box's text.
  expect "run log so far" "$(e2e_run_log_events | sed 's/show command [0-9]*/show command N/' | tr '\n' '|')" \
    "start: version 2.0.0.0, show command N|shortcut not written: ${expected%.}|error box: $expected|"
  box=$(e2e_x_windows | while read -r id; do
    [ "$(xdotool getwindowgeometry "$id" | sed -n 's/.*Geometry: //p')" != "258x89" ] && echo "$id"
  done | sed -n 1p)
  [ -n "$box" ] || expect_fail "no X window for the message box"
  e2e_press "$box" Return
  e2e_wait_for 10 no_message_box || expect_fail "the message box did not close"
  sleep 2
  windows=$(e2e_probe_windows)
  expect "waiting windows after the box" "$(printf '%s\n' "$windows" | grep -c '^window .* client=258x89')" 1
  expect "label" "$(printf '%s\n' "$windows" | grep -c "text=\"$LABEL\"")" 1
  expect "still running" "$(kill -0 "$LAUNCH_PID" 2>/dev/null && echo yes || echo no)" yes
  expect "server starts" "$(e2e_server_starts)" 0
  expect "pages handed to the browser" "$(e2e_urls | grep -c .)" 0
  local win
  win=$(e2e_x_windows | sed -n 1p)
  e2e_press "$win" alt+F4
  e2e_wait_exit "$LAUNCH_PID" 15
  RC=$E2E_RC
  expect "exit code after closing the window" "$RC" 0
  expect "files in the desktop folder" "$(find "$E2E_DESKTOP" -mindepth 1 | wc -l)" 0
  expect_run_log_well_formed
  expect "run log after the box" "$(e2e_run_log_events | tail -n +4 | tr '\n' '|')" \
    "window shown|window closed by the user|exit code 0|"
  echo "  run log:"
  e2e_run_log | sed 's/^/    /'
  e2e_restore_shell_link_class
}

# Closing the window while the launcher polls ends it with exit code 0 and no
# page; the server it started goes on booting and then answers.
scenario_close_while_polling() {
  e2e_reset --delay 4000
  e2e_launch kestrin
  local win
  win=$(e2e_wait_x_windows 1 20 | sed -n 1p)
  [ -n "$win" ] || expect_fail "no window"
  sleep 2.5
  local closed
  closed=$(e2e_now_ms)
  e2e_press "$win" alt+F4
  e2e_wait_exit "$LAUNCH_PID" 15
  RC=$E2E_RC
  local ended
  ended=$(e2e_now_ms)
  e2e_settle_urls 1 1
  expect "exit code" "$RC" 0
  expect_range "ms from close to exit" "$((ended - closed))" 0 5000
  expect "pages handed to the browser" "$(e2e_urls | grep -c .)" 0
  expect "connections before the close" "$(e2e_connections | grep -c .)" 0
  if e2e_wait_for 10 e2e_server_listening; then
    expect_ok "the server kept running and listens"
    expect "the server answers afterwards" \
      "$(e2e_http_status /kestrin)" 200
  else
    expect_fail "the server did not come up after the launcher ended"
  fi
  expect "pages handed to the browser, later" "$(e2e_urls | grep -c .)" 0
}

# The waiting window, the same in both programs: caption "KESTRIN", client
# area 258x89, the label, topmost, a fixed dialog frame without minimize or
# maximize box, centred on the screen.
scenario_window() {
  local name
  for name in kestrin kestrin_install; do
    echo "$name:"
    e2e_reset --delay 3000
    e2e_launch "$name"
    local xwin
    xwin=$(e2e_wait_x_windows 1 20 | sed -n 1p)
    sleep 0.3
    local info line
    info=$(e2e_probe_windows)
    line=$(printf '%s\n' "$info" | grep '^window ' | sed -n 1p)
    expect "windows titled KESTRIN" "$(printf '%s\n' "$info" | grep -c '^window ')" 1
    expect "caption" "$(e2e_field "$line" caption)" KESTRIN
    expect "client area" "$(e2e_field "$line" client)" 258x89
    expect "client area seen by X" \
      "$(xdotool getwindowgeometry "$xwin" 2>/dev/null | sed -n 's/.*Geometry: //p')" 258x89
    expect "topmost" "$(e2e_field "$line" topmost)" 1
    expect "minimised" "$(e2e_field "$line" iconic)" 0
    expect "label" "$(printf '%s\n' "$info" | grep -c "^  child class=\"Static\" text=\"$LABEL\"")" 1
    local label
    label=$(printf '%s\n' "$info" | grep "^  child class=\"Static\"" | sed -n 1p)
    expect "label position and size" "$(e2e_field "$label" pos) $(e2e_field "$label" size)" "48,40 157x13"
    local style=$(($(e2e_field "$line" style)))
    expect "system menu, no minimize/maximize box, no sizing frame" \
      "$(((style & 0x80000) != 0)),$(((style & 0x30000) != 0)),$(((style & 0x40000) != 0))" "1,0,0"
    local frame screen fx fy fw fh sw sh
    frame=$(e2e_field "$line" frame)
    screen=$(e2e_field "$line" screen)
    IFS=',x' read -r fx fy fw fh <<<"$frame"
    IFS='x' read -r sw sh <<<"$screen"
    expect "placed at the centre of the ${screen} screen" "$fx,$fy" "$(((sw - fw) / 2)),$(((sh - fh) / 2))"
    import -window root "$E2E_DIR/window-$name.png" 2>/dev/null &&
      echo "  screenshot: $E2E_DIR/window-$name.png"
    e2e_wait_exit "$LAUNCH_PID" 20
    RC=$E2E_RC
    expect "exit code" "$RC" 0
  done
}

# Started minimised (as a shortcut set to "run minimised" starts it): only a
# minimised window, which once restored is the same centred waiting window.
scenario_minimised_start() {
  e2e_reset --delay 4000
  LAUNCH_T0=$(e2e_now_ms)
  # Not through a pipe: the launcher and the server it starts would hold it.
  kestrin_wine "$E2E_WINPROBE_EXE" start 7 'C:\kestrin\kestrin.exe' >/dev/null 2>&1 ||
    expect_fail "winprobe could not start the launcher"
  e2e_wait_for 20 launcher_window_exists || expect_fail "no window within 20 s"
  local line
  line=$(e2e_probe_windows | grep '^window ' | sed -n 1p)
  expect "windows titled KESTRIN" "$(e2e_probe_windows | grep -c '^window ')" 1
  expect "minimised at start" "$(e2e_field "$line" iconic)" 1
  expect "restored" "$(e2e_wine_out "$E2E_WINPROBE_EXE" restore)" "restored=1"
  line=$(e2e_probe_windows | grep '^window ' | sed -n 1p)
  expect "caption" "$(e2e_field "$line" caption)" KESTRIN
  expect "client area" "$(e2e_field "$line" client)" 258x89
  local fx fy fw fh sw sh
  IFS=',x' read -r fx fy fw fh <<<"$(e2e_field "$line" frame)"
  IFS='x' read -r sw sh <<<"$(e2e_field "$line" screen)"
  expect "placed at the centre of the screen" "$fx,$fy" "$(((sw - fw) / 2)),$(((sh - fh) / 2))"
  # The launcher goes on as usual: the server it started answers, the page opens.
  e2e_settle_urls 1 20
  expect "page handed to the browser" "$(e2e_urls)" "$PAGE_kestrin"
}

# Two launchers at once: two windows, two server starts, both pages.
scenario_two_launchers() {
  e2e_reset --delay 3000
  e2e_launch kestrin
  local p1=$LAUNCH_PID
  e2e_launch kestrin_install
  local p2=$LAUNCH_PID
  if e2e_wait_x_windows 2 20 >/dev/null; then
    local info
    info=$(e2e_probe_windows)
    expect "waiting windows" "$(printf '%s\n' "$info" | grep -c '^window .* client=258x89')" 2
    expect "processes owning them" \
      "$(printf '%s\n' "$info" | grep '^window ' | sed 's/.* pid=\([0-9]*\).*/\1/' | sort -u | grep -c .)" 2
  else
    expect_fail "two windows did not show"
  fi
  e2e_wait_exit "$p1" 30
  expect "exit code of kestrin" "$E2E_RC" 0
  e2e_wait_exit "$p2" 30
  expect "exit code of kestrin_install" "$E2E_RC" 0
  e2e_settle_urls 2 3
  expect "server starts" "$(e2e_server_starts)" 2
  expect "pages handed to the browser" "$(e2e_urls | sort | tr '\n' ' ')" \
    "$PAGE_kestrin $PAGE_kestrin_install "
  expect "answered connections" "$(e2e_connections | grep -c ' outcome=answered ')" 2
  # Both wrote to the one run log, each line whole.
  expect_run_log_well_formed
  expect "programs ending with exit code 0 in the run log" \
    "$(e2e_run_log | sed -n 's/^[0-9-]* [0-9:.]* \([a-z_]*\)\[[0-9]*\] exit code 0$/\1/p' | sort | tr '\n' ' ')" \
    "kestrin kestrin_install "
}

# cmdow, the launchers' helper, outside the one form they use: a usage
# message and exit code 2; a missing file is reported and exit code 1. The
# one form starts the script hidden and returns without waiting for it.
scenario_cmdow() {
  e2e_reset --delay 4000
  local args want err rc
  while IFS='|' read -r args want; do
    # shellcheck disable=SC2086
    err=$(kestrin_wine 'C:\kestrin\bin\cmdow.exe' $args 2>&1 >/dev/null)
    rc=$?
    expect "exit code of 'cmdow $args'" "$rc" "$want"
    case "$want" in
      2) expect "usage shown" "$(printf '%s\n' "$err" | grep -c '^usage: cmdow /run /hid FILE')" 1 ;;
      1) expect "missing file named" "$(printf '%s\n' "$err" | grep -c 'cannot find')" 1 ;;
    esac
  done <<'ROWS'
|2
/run /hid|2
/run /min c:\kestrin\bin\startup.bat|2
/run /hid c:\kestrin\bin\missing.bat|1
ROWS
  expect "server starts so far" "$(e2e_server_starts)" 0
  kestrin_wine 'C:\kestrin\bin\cmdow.exe' /RUN /HID 'c:\kestrin\bin\startup.bat' >/dev/null 2>&1
  rc=$?
  local returned
  returned=$(e2e_now_ms)
  expect "exit code of 'cmdow /RUN /HID startup.bat'" "$rc" 0
  if e2e_wait_for 10 e2e_server_listening; then
    expect "cmdow returned before the started server (booting 4 s) listened" \
      "$([ "$returned" -lt "$(log_time ' listening on ')" ] && echo yes || echo no)" yes
  else
    expect_fail "the started server never listened"
  fi
  expect "windows shown" "$(xdotool search --onlyvisible --name . 2>/dev/null | grep -c .)" 0
}

# ---------------------------------------------------------------------------

name=${1:-}
if [ -z "$name" ] || ! declare -F "scenario_$name" >/dev/null; then
  echo "usage: $0 SCENARIO" >&2
  echo "scenarios: $(declare -F | sed -n 's/^declare -f scenario_//p' | tr '\n' ' ')" >&2
  exit 2
fi
e2e_private_network "$0" "$@"
e2e_init
started=$(e2e_now_ms)
echo "scenario $name ($([ -n "${E2E_NETNS:-}" ] && echo "network namespace of its own" || echo "shared network"), display $DISPLAY)"
"scenario_$name"
echo "took $((($(e2e_now_ms) - started) / 1000)) s"
expect_verdict
