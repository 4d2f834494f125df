#!/usr/bin/env bash
# Builds what is missing of the Windows programs and runs, under Wine, the
# first-run launcher kestrin_install.exe and then the everyday launcher
# kestrin.exe against the demo KESTRIN server (which boots for 3 s), in a Wine
# prefix of its own under the build tree. Prints what happened, as seen from
# outside: the window, the server start, each probe as the server saw it, the
# page handed to the browser, the shortcut written and the exit codes, then
# the launcher's own run log of that run; saves a screenshot of the waiting
# window as a user sees it, with its title bar (on a private Xvfb display the
# small window manager openbox draws the frames).
#
# Runs the i686 product (the win32 preset) where this machine executes 32-bit
# programs, the x86_64 flavour (win64) otherwise; scripts/wine.sh decides and
# the transcript says which and why (KESTRIN_WINE64=1 forces the second).
# Uses the display in DISPLAY when there is one, otherwise a private Xvfb.
# KESTRIN_DEMO_BUILD=DIR uses an already configured mingw build folder (tests on) of
# the flavour that runs here instead of the preset's.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$PWD

scripts/deps.sh || exit 1
# shellcheck source=wine.sh
source scripts/wine.sh
if ! wine_decide; then
  echo "run-demo.sh: no Windows program can run here: $KESTRIN_WINE_WHY"
  exit 1
fi
echo "== $(wine_which)"

preset=$KESTRIN_FLAVOUR
build=${KESTRIN_DEMO_BUILD:-build/$preset}
targets=(kestrin kestrin_install cmdow demo_server e2e_winprobe)
echo "== building ${targets[*]} in $build"
[ -n "${KESTRIN_DEMO_BUILD:-}" ] || [ -f "$build/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null || exit 1
cmake --build "$build" --target "${targets[@]}" -j "$(scripts/jobs.sh)" >"$build/demo-build.log" 2>&1 ||
  { tail -30 "$build/demo-build.log"; echo "build FAILED (log: $build/demo-build.log)"; exit 1; }

# The programs' paths and version, as the build wrote them for the
# end-to-end scenarios; the demo has a run folder of its own.
# shellcheck source=/dev/null
source "$build/e2e/programs.env" || { echo "run-demo.sh: $build/e2e/programs.env is missing (a build with KESTRIN_TESTS=ON)"; exit 1; }
export E2E_DIR="$root/$build/demo"

# shellcheck source=e2e/harness.sh
source scripts/e2e/harness.sh
e2e_init
echo "== Wine $(kestrin_wine --version 2>/dev/null) ($KESTRIN_WINE_LOADER), prefix $E2E_DIR/prefix, display $DISPLAY$([ -n "$E2E_XVFB_PID" ] && echo ' (Xvfb of this run)')"

BOOT_MS=3000
e2e_reset --delay "$BOOT_MS"

# On our own Xvfb a window manager draws the title bars, as on a desktop.
WM_PID=""
if [ -n "$E2E_XVFB_PID" ] && command -v openbox >/dev/null; then
  guard=()
  setpriv --pdeathsig TERM true 2>/dev/null && guard=(setpriv --pdeathsig TERM)
  # The title bar of a fixed dialog frame: caption and close button only,
  # as Windows draws it (openbox would otherwise add its minimise and
  # maximise buttons to every window).
  cat >"$E2E_DIR/openbox-rc.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><titleLayout>LC</titleLayout></theme>
</openbox_config>
EOF
  "${guard[@]}" openbox --sm-disable --config-file "$E2E_DIR/openbox-rc.xml" >"$E2E_DIR/openbox.log" 2>&1 &
  WM_PID=$!
  trap '[ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null; e2e_cleanup' EXIT
  for _ in $(seq 1 40); do
    wm_check=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null || true)
    grep 'window id' >/dev/null <<<"$wm_check" && break
    sleep 0.05
  done
  echo "== window manager: openbox (pid $WM_PID) on $DISPLAY"
fi

# Seconds since the launcher was started, one decimal.
rel() { awk -v t="$1" -v t0="$T0" 'BEGIN { printf "%+6.1f s", (t - t0) / 1000 }'; }
say() { printf '  %s  %s\n' "$(rel "$1")" "$2"; }

# run NAME TITLE: runs c:\kestrin\NAME.exe to its end and tells its story.
run() {
  local name=$1 log_from url_from run_log_from
  log_from=$(cat "$E2E_SERVER_LOG" 2>/dev/null | grep -c . || true)
  run_log_from=$(e2e_run_log | grep -c . || true)
  url_from=$(grep -c . "$E2E_URL_LOG" 2>/dev/null || true)
  echo
  echo "== $2: c:\\kestrin\\$name.exe"
  e2e_launch "$name"
  T0=$LAUNCH_T0
  say "$T0" "started"
  local xwin t_win=""
  if xwin=$(e2e_wait_x_windows 1 20 | sed -n 1p) && [ -n "$xwin" ]; then
    t_win=$(e2e_now_ms)
    local geo caption
    geo=$(xdotool getwindowgeometry "$xwin" 2>/dev/null | sed -n 's/.*Geometry: //p')
    caption=$(xdotool getwindowname "$xwin" 2>/dev/null)
    say "$t_win" "window shown: caption \"$caption\", client area $geo"
    if [ -n "$E2E_WINPROBE_EXE" ]; then
      local info label topmost
      info=$(e2e_probe_windows | grep -A3 '^window .* client=')
      label=$(printf '%s\n' "$info" | sed -n 's/^  child class="Static" text="\([^"]*\)".*/\1/p' | sed -n 1p)
      topmost=$(printf '%s\n' "$info" | sed -n 's/^window .* topmost=\([01]\).*/\1/p' | sed -n 1p)
      if [ -z "$info" ]; then
        # Reading it from Windows takes a Wine start; a quick answer ends
        # the launcher first.
        echo "            (the window was gone before it could be read from Windows)"
      else
        printf '            label "%s", %s, at %s\n' "$label" \
          "$([ "$topmost" = 1 ] && echo "always on top" || echo "NOT on top")" \
          "$(printf '%s\n' "$info" | sed -n 's/^window .* frame=\([0-9-]*,[0-9-]*\),.*/\1/p' | sed -n 1p)"
      fi
    fi
    if [ "$name" = kestrin_install ]; then
      sleep 0.3
      # The frame the window manager put around the window, title bar
      # included; without a window manager only the client area exists.
      local frame
      frame=$(xwininfo -tree -id "$xwin" 2>/dev/null | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p')
      [ -n "$WM_PID" ] && [ -n "$frame" ] && [ "$frame" != "$(xwininfo -root 2>/dev/null | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')" ] || frame=$xwin
      SHOT="$E2E_DIR/waiting-window.png"
      import -window "$frame" "$SHOT" 2>/dev/null || import -window root "$SHOT" 2>/dev/null || SHOT=""
      import -window root "$E2E_DIR/screen.png" 2>/dev/null || true
    fi
  else
    echo "  no window showed within 20 s"
  fi
  e2e_wait_exit "$LAUNCH_PID" 150
  local rc=$E2E_RC t_end
  t_end=$(e2e_now_ms)
  e2e_settle_urls $((url_from + 1)) 2

  # The server's side of the story, from its request log.
  local t rest pid answered=""
  while read -r t _ pid rest; do
    pid=${pid#pid=}
    case "$rest" in
      "started options="*)
        say "$t" "server start requested: cmdow ran startup.bat, demo server process $pid started (${rest#started })" ;;
      "booting for "*) say "$t" "server booting (${rest#booting for })" ;;
      "listening on "*) say "$t" "server $pid listening on ${rest#listening on }" ;;
      "cannot listen"*) say "$t" "server $pid found port 9080 taken (the earlier one serves) and ended" ;;
      conn=*)
        local req outcome status held
        req=$(e2e_field " $rest" request)
        outcome=$(e2e_field " $rest" outcome)
        case "$outcome" in
          answered)
            status=$(e2e_field " $rest" status)
            answered=$t
            say "$t" "probe reached server $pid: \"$req\" ($(e2e_field " $rest" head_bytes)-byte head), answered $status" ;;
          "") ;;
          *)
            held=$(e2e_field " $rest" held_ms)
            say "$t" "probe reached server $pid: \"$req\", $outcome after $held ms" ;;
        esac ;;
    esac
  done < <(tail -n +"$((log_from + 1))" "$E2E_SERVER_LOG" 2>/dev/null)

  # Refused connects never reach the server; the ticks before the answer
  # (every 1000 ms from the window's show) were those.
  if [ -n "$answered" ] && [ -n "$t_win" ]; then
    local refused=$(((answered - t_win + 500) / 1000 - 1))
    [ "$refused" -lt 0 ] && refused=0
    if [ "$refused" -gt 0 ]; then
      echo "            before that: $refused probe(s), one a second, found nothing listening (connection refused)"
    else
      echo "            the first probe, one second after the window showed, was answered"
    fi
  fi

  local url
  url=$(tail -n +"$((url_from + 1))" "$E2E_URL_LOG" 2>/dev/null | sed -n 1p)
  if [ -n "$url" ]; then
    say "${url%% *}" "page handed to the browser: ${url#* }"
  else
    echo "  no page was handed to the browser"
  fi
  if [ "$name" = kestrin_install ]; then
    local lnk="$E2E_DESKTOP/KESTRIN.lnk"
    if [ -f "$lnk" ]; then
      echo "            shortcut written: C:\\users\\$(id -un)\\Desktop\\KESTRIN.lnk ($lnk)"
      echo "              target: $(e2e_lnk_field "$lnk" 'Local path')"
      echo "              working directory: $(e2e_lnk_field "$lnk" 'Working directory')"
    else
      echo "            no shortcut on the desktop ($E2E_DESKTOP)"
    fi
  fi
  say "$t_end" "ended, exit code $rc"
  RCS+=("$name=$rc")
  echo "  its run log ($E2E_RUN_LOG):"
  if [ "$(e2e_run_log | grep -c . || true)" -gt "$run_log_from" ]; then
    e2e_run_log | tail -n +"$((run_log_from + 1))" | sed 's/^/    /'
  else
    echo "    (nothing was written)"
  fi
}

RCS=()
SHOT=""
echo
echo "The demo server boots for $BOOT_MS ms after startup.bat starts it."
run kestrin_install "First run"
run kestrin "Everyday run (the server of the first run is still up)"

echo
echo "== exit codes: ${RCS[*]}"
if [ -n "$SHOT" ]; then
  if [ -n "$WM_PID" ]; then
    echo "== screenshot of the waiting window with its frame: $SHOT (whole screen: $E2E_DIR/screen.png)"
  else
    echo "== screenshot of the waiting window: $SHOT (the display's own window manager, if any, drew no frame into it; whole screen: $E2E_DIR/screen.png)"
  fi
fi
echo "== logs: $E2E_SERVER_LOG (server), $E2E_URL_LOG (browser), $E2E_RUN_LOG (the launchers')"
echo "== the demo server and every other Wine process of this run end now"
for r in "${RCS[@]}"; do
  [ "${r#*=}" = 0 ] || exit 1
done
exit 0
