# shellcheck shell=bash
# Shared by the end-to-end scenarios and the demo run; source it from bash.
#
# Lays out a KESTRIN installation in a Wine prefix of its own and watches the
# launchers from outside: the demo server's request log, the log of URLs the
# shell handed to the "browser", the desktop folder, the windows and the
# launchers' own run log (%LOCALAPPDATA%\KESTRIN\launcher.log).
#
# Set before e2e_init:
#   E2E_DIR                 run folder under the build tree (prefix, home, logs)
#   E2E_KESTRIN_EXE         kestrin.exe
#   E2E_KESTRIN_INSTALL_EXE kestrin_install.exe
#   E2E_CMDOW_EXE           cmdow.exe
#   E2E_DEMO_SERVER_EXE     demo_server.exe
#   E2E_STARTUP_BAT         startup.bat
#   E2E_WINPROBE_EXE        e2e_winprobe.exe (optional; for reading windows)
#   E2E_XVFB                "always": a display of our own even if DISPLAY is set
# Every process started here is ended by e2e_cleanup, which e2e_init installs
# as the EXIT trap.

# shellcheck source=../wine.sh
source "$(dirname "${BASH_SOURCE[0]}")/../wine.sh"

E2E_PIDS=()
E2E_XVFB_PID=""

e2e_now_ms() { date +%s%3N; }

# e2e_private_network SCRIPT ARGS...: runs the script again in a network
# namespace of its own with just a loopback interface (root only), so that
# port 9080 there is ours alone: nothing else on the machine can take it or
# send requests to the demo server, and the counts in its log are exact.
# Returns (and the caller goes on in the shared network) when that is not
# possible. Everything Wine does must start inside: sockets are made by the
# prefix's wineserver, which e2e_init therefore restarts.
e2e_private_network() {
  [ -n "${E2E_NETNS:-}" ] && return 0
  [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null && command -v ip >/dev/null || return 0
  unshare -n ip link set lo up 2>/dev/null || return 0
  E2E_NETNS=private exec unshare -n bash -c 'ip link set lo up && exec bash "$@"' _ "$@"
}

e2e_die() {
  echo "e2e: $*" >&2
  exit 2
}

# Converts CRLF output of Windows programs.
e2e_wine_out() { kestrin_wine "$@" 2>/dev/null | tr -d '\r'; }

e2e_init() {
  [ -n "${E2E_DIR:-}" ] || e2e_die "E2E_DIR is not set"
  local v
  for v in E2E_KESTRIN_EXE E2E_KESTRIN_INSTALL_EXE E2E_CMDOW_EXE E2E_DEMO_SERVER_EXE E2E_STARTUP_BAT; do
    [ -f "${!v:-}" ] || e2e_die "$v does not name a file: '${!v:-}'"
  done
  wine_decide || e2e_die "$KESTRIN_WINE_WHY"

  mkdir -p "$E2E_DIR/home/Desktop"
  E2E_DIR=$(cd "$E2E_DIR" && pwd)
  wine_env "$E2E_DIR/prefix" "$E2E_DIR/home"
  E2E_DESKTOP="$HOME/Desktop"
  E2E_KESTRIN_DIR="$WINEPREFIX/drive_c/kestrin"
  E2E_SERVER_LOG="$E2E_KESTRIN_DIR/bin/demo_server.log"
  E2E_SERVER_ARGS="$E2E_KESTRIN_DIR/bin/demo_server.args"
  E2E_URL_LOG="$E2E_DIR/urls.log"
  E2E_SHELL_LINK_REG="$E2E_DIR/shell-link-class.reg"

  trap e2e_cleanup EXIT
  trap 'exit 130' INT TERM

  e2e_start_display
  e2e_unfreeze_desktop

  # No Wine process of this prefix from before, nor its wineserver (which
  # may belong to another network namespace).
  kestrin_wineserver -k 2>/dev/null || true
  kestrin_wineserver -w 2>/dev/null || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "e2e: preparing the Wine prefix $WINEPREFIX (once)"
    kestrin_wine_prefix || e2e_die "wineboot failed ($(wine_which))"
  fi
  e2e_restore_shell_link_class
  e2e_find_run_log

  # The "browser": a script that appends every URL it gets to a log.
  cat >"$E2E_DIR/url-recorder.sh" <<EOF
#!/bin/sh
# Stands in for the web browser: records the URL the shell hands over.
echo "\$(date +%s%3N) \$*" >>"$E2E_URL_LOG"
EOF
  chmod +x "$E2E_DIR/url-recorder.sh"
  if ! grep -qF "\"Browsers\"=\"$E2E_DIR/url-recorder.sh\"" "$WINEPREFIX/user.reg" 2>/dev/null; then
    kestrin_reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$E2E_DIR/url-recorder.sh" /f >/dev/null 2>&1 ||
      e2e_die "cannot register the URL recorder"
  fi

  # The installation: c:\kestrin\kestrin.exe, c:\kestrin\kestrin_install.exe,
  # c:\kestrin\bin\ with cmdow.exe, startup.bat and the demo server.
  mkdir -p "$E2E_KESTRIN_DIR/bin"
  cp "$E2E_KESTRIN_EXE" "$E2E_KESTRIN_DIR/kestrin.exe"
  cp "$E2E_KESTRIN_INSTALL_EXE" "$E2E_KESTRIN_DIR/kestrin_install.exe"
  cp "$E2E_CMDOW_EXE" "$E2E_KESTRIN_DIR/bin/cmdow.exe"
  cp "$E2E_DEMO_SERVER_EXE" "$E2E_KESTRIN_DIR/bin/demo_server.exe"
  sed 's/\r*$/\r/' "$E2E_STARTUP_BAT" >"$E2E_KESTRIN_DIR/bin/startup.bat"
}

# Xvfb on a free display when there is no display to use, or always when
# E2E_XVFB=always (the tests never put windows on a user's screen).
e2e_start_display() {
  [ -n "$E2E_XVFB_PID" ] && return 0
  # A display outside a private network namespace may not be reachable.
  [ -n "${DISPLAY:-}" ] && [ "${E2E_XVFB:-}" != always ] && [ -z "${E2E_NETNS:-}" ] && return 0
  command -v Xvfb >/dev/null || e2e_die "no DISPLAY and no Xvfb"
  local number="$E2E_DIR/xvfb.display" i
  rm -f "$number"
  # Ends with this shell even when the shell is killed without its traps
  # running (a test time-out).
  local guard=()
  setpriv --pdeathsig TERM true 2>/dev/null && guard=(setpriv --pdeathsig TERM)
  "${guard[@]}" Xvfb -displayfd 9 -nolisten tcp -screen 0 1280x1024x24 9>"$number" >/dev/null 2>&1 &
  E2E_XVFB_PID=$!
  for i in $(seq 1 100); do
    [ -s "$number" ] && break
    sleep 0.05
  done
  [ -s "$number" ] || e2e_die "Xvfb did not start"
  DISPLAY=":$(tr -dc 0-9 <"$number")"
  export DISPLAY
}

e2e_cleanup() {
  local pid
  for pid in "${E2E_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  if [ -n "${WINEPREFIX:-}" ]; then
    kestrin_wineserver -k 2>/dev/null || true
    kestrin_wineserver -w 2>/dev/null || true
  fi
  for pid in "${E2E_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  E2E_PIDS=()
  e2e_unfreeze_desktop
  e2e_unfreeze_run_log
  e2e_restore_shell_link_class
  if [ -n "$E2E_XVFB_PID" ]; then
    kill "$E2E_XVFB_PID" 2>/dev/null || true
    wait "$E2E_XVFB_PID" 2>/dev/null || true
    E2E_XVFB_PID=""
  fi
}

# A fresh start for one scenario: no Wine process of the prefix left, empty
# logs and desktop, the demo server's options for its next start.
e2e_reset() {
  kestrin_wineserver -k 2>/dev/null || true
  kestrin_wineserver -w 2>/dev/null || true
  local pid
  for pid in "${E2E_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  E2E_PIDS=()
  e2e_unfreeze_desktop
  rm -rf "$E2E_DESKTOP"
  mkdir -p "$E2E_DESKTOP"
  e2e_unfreeze_run_log
  [ -n "${E2E_RUN_LOG_DIR:-}" ] && rm -rf "$E2E_RUN_LOG_DIR"
  rm -f "$E2E_SERVER_LOG" "$E2E_URL_LOG" "$WINEPREFIX/drive_c/KESTRIN.lnk"
  : >"$E2E_URL_LOG"
  e2e_server_options "$@"
}

# Options for the demo server that startup.bat starts next (demo_server --help).
e2e_server_options() {
  printf '%s\n' "# written by the end-to-end harness" "$*" >"$E2E_SERVER_ARGS"
}

# Starts a demo server directly (not through a launcher) and waits until it
# listens.
e2e_start_server() {
  kestrin_wine 'C:\kestrin\bin\demo_server.exe' --log 'C:\kestrin\bin\demo_server.log' "$@" >/dev/null 2>&1 &
  E2E_PIDS+=($!)
  e2e_wait_for 10 e2e_server_listening || e2e_die "the demo server did not come up"
}

e2e_server_listening() { grep -q ' listening on ' "$E2E_SERVER_LOG" 2>/dev/null; }

# e2e_launch NAME: starts c:\kestrin\NAME.exe in the background; sets
# LAUNCH_PID and LAUNCH_T0 (ms).
e2e_launch() {
  LAUNCH_T0=$(e2e_now_ms)
  kestrin_wine "C:\\kestrin\\$1.exe" >/dev/null 2>&1 &
  LAUNCH_PID=$!
  E2E_PIDS+=("$LAUNCH_PID")
}

# e2e_wait_exit PID SECONDS: sets E2E_RC to the exit code of the program
# started in the background, or to "timeout". (Not for $(...): a subshell
# cannot wait for its parent's children.)
e2e_wait_exit() {
  local pid=$1 deadline=$(($(e2e_now_ms) + $2 * 1000))
  E2E_RC=timeout
  while kill -0 "$pid" 2>/dev/null; do
    [ "$(e2e_now_ms)" -ge "$deadline" ] && return 0
    sleep 0.05
  done
  E2E_RC=0
  wait "$pid" || E2E_RC=$?
}

# The shell hands the URL to the browser helper without waiting for it, so
# the recorder may write after the launcher has ended: e2e_settle_urls COUNT
# SECONDS waits until COUNT URLs are in or the time is up.
e2e_settle_urls() {
  local deadline=$(($(e2e_now_ms) + $2 * 1000))
  until [ "$(grep -c . "$E2E_URL_LOG" 2>/dev/null)" -ge "$1" ] || [ "$(e2e_now_ms)" -ge "$deadline" ]; do
    sleep 0.05
  done
}

# Visible X windows titled exactly "KESTRIN" (the waiting window and any
# message box have that caption).
e2e_x_windows() { xdotool search --onlyvisible --name '^KESTRIN$' 2>/dev/null || true; }

# e2e_wait_x_windows COUNT SECONDS: waits until COUNT such windows are
# visible; prints their ids. Returns 1 on time-out.
e2e_wait_x_windows() {
  local want=$1 deadline=$(($(e2e_now_ms) + $2 * 1000)) ids
  while :; do
    ids=$(e2e_x_windows)
    if [ "$(printf '%s' "$ids" | grep -c .)" -ge "$want" ]; then
      printf '%s\n' "$ids"
      return 0
    fi
    [ "$(e2e_now_ms)" -ge "$deadline" ] && return 1
    sleep 0.05
  done
}

# The windows as Windows sees them (winprobe list).
e2e_probe_windows() { e2e_wine_out "$E2E_WINPROBE_EXE" list "$@"; }

# Simulated key presses on an X window (synthetic events; Wine takes them
# without a window manager).
e2e_press() { xdotool key --window "$1" "$2" 2>/dev/null; }

# e2e_wait_for SECONDS COMMAND...: polls until COMMAND succeeds.
e2e_wait_for() {
  local deadline=$(($(e2e_now_ms) + $1 * 1000))
  shift
  until "$@"; do
    [ "$(e2e_now_ms)" -ge "$deadline" ] && return 1
    sleep 0.05
  done
}

# e2e_http_status PATH: the status code the server on 127.0.0.1:9080 answers
# a GET with (bash's own TCP, bounded to 5 s).
e2e_http_status() {
  timeout 5 bash -c 'exec 3<>/dev/tcp/127.0.0.1/9080 &&
    printf "GET %s HTTP/1.1\r\nHost: localhost:9080\r\nConnection: close\r\n\r\n" "$1" >&3 &&
    head -1 <&3' _ "$1" 2>/dev/null | cut -d' ' -f2
}

# Connections that reached the server, one line each (silent ones counted
# once, when they end).
e2e_connections() { grep ' conn=' "$E2E_SERVER_LOG" 2>/dev/null | grep -v ' silent=waiting' || true; }
e2e_server_starts() { cat "$E2E_SERVER_LOG" 2>/dev/null | grep -c ' started options=' || true; }
e2e_urls() { cut -d' ' -f2- "$E2E_URL_LOG" 2>/dev/null || true; }
e2e_url_times() { cut -d' ' -f1 "$E2E_URL_LOG" 2>/dev/null || true; }
# e2e_field LINE KEY: the value of key=value in a log line.
e2e_field() { printf '%s\n' "$1" | sed -n "s/.* $2=\\(\"[^\"]*\"\\|[^ ]*\\).*/\\1/p" | tr -d '"'; }

# e2e_lnk_field FILE FIELD: a field of a shortcut file as lnkinfo names it
# ("Local path", "Working directory").
e2e_lnk_field() { lnkinfo "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^[[:space:]]*$2[[:space:]]*: //p"; }

# e2e_freeze_folder DIR: a folder that refuses new files: immutable for root
# (who ignores permissions), read-only otherwise. Returns 1 when the file
# system lets a file in all the same.
e2e_freeze_folder() {
  if [ "$(id -u)" -eq 0 ]; then
    chattr +i "$1" 2>/dev/null
  else
    chmod a-w "$1"
  fi
  if (: >"$1/.write-check") 2>/dev/null; then
    rm -f "$1/.write-check"
    return 1
  fi
}

# e2e_unfreeze_folder DIR: takes new files again (nothing to do when missing).
e2e_unfreeze_folder() {
  [ -n "$1" ] && [ -d "$1" ] || return 0
  if [ "$(id -u)" -eq 0 ]; then
    chattr -i "$1" 2>/dev/null || true
  fi
  chmod u+w "$1" 2>/dev/null || true
}

e2e_freeze_desktop() { e2e_freeze_folder "$E2E_DESKTOP"; }
e2e_unfreeze_desktop() { e2e_unfreeze_folder "${E2E_DESKTOP:-}"; }

# ---- the launchers' run log ---------------------------------------------

# Sets E2E_RUN_LOG_DIR and E2E_RUN_LOG: the KESTRIN folder in the local
# application data folder of the prefix's user, and the log in it.
e2e_find_run_log() {
  local local_dir
  local_dir=$(find "$WINEPREFIX/drive_c/users" -mindepth 3 -maxdepth 3 -type d -path '*/AppData/Local' \
    ! -path '*/Public/*' 2>/dev/null | head -1)
  [ -n "$local_dir" ] || local_dir="$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/AppData/Local"
  E2E_RUN_LOG_DIR="$local_dir/KESTRIN"
  E2E_RUN_LOG="$E2E_RUN_LOG_DIR/launcher.log"
}

# The run log's lines (CR LF ends taken off).
e2e_run_log() { { tr -d '\r' <"$E2E_RUN_LOG"; } 2>/dev/null || true; }
# Only the events: without the time, program and process id of each line.
e2e_run_log_events() { e2e_run_log | sed 's/^[0-9-]* [0-9:.]* [a-z_]*\[[0-9]*\] //'; }
# Lines that do not begin "YYYY-MM-DD HH:MM:SS.mmm PROGRAM[PID] ".
e2e_run_log_malformed() {
  e2e_run_log | grep -cEv '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} kestrin(_install)?\[[0-9]+\] ' || true
}
# e2e_run_log_has TEXT: how many events are exactly TEXT.
e2e_run_log_has() { e2e_run_log_events | grep -cxF -- "$1" || true; }

# A run-log folder that refuses new files, made anew.
e2e_freeze_run_log() {
  rm -rf "$E2E_RUN_LOG_DIR"
  mkdir -p "$E2E_RUN_LOG_DIR"
  e2e_freeze_folder "$E2E_RUN_LOG_DIR"
}
e2e_unfreeze_run_log() { e2e_unfreeze_folder "${E2E_RUN_LOG_DIR:-}"; }

# The shell-link class taken out of the prefix's registry, and put back from
# the saved copies (also by e2e_init and e2e_cleanup, should a run have died
# in between). A 64-bit prefix on a machine that runs 32-bit programs holds
# the class twice, in the 64-bit view and in the 32-bit one (Wow6432Node), and
# a lookup by either flavour falls back on the other view: removing one copy
# leaves a class key without its server (REGDB_E_KEYMISSING), not a missing
# class. So every view that has a copy is saved and cleared, and each copy
# goes back into its own view.
E2E_SHELL_LINK_KEY='HKLM\Software\Classes\CLSID\{00021401-0000-0000-C000-000000000046}'
E2E_REG_VIEWS=(64 32)

e2e_remove_shell_link_class() {
  local view saved
  for view in "${E2E_REG_VIEWS[@]}"; do
    saved="$E2E_SHELL_LINK_REG.$view"
    rm -f "$saved"
    kestrin_reg query "$E2E_SHELL_LINK_KEY" "/reg:$view" >/dev/null 2>&1 || continue
    kestrin_reg export "$E2E_SHELL_LINK_KEY" "$(kestrin_winepath -w "$saved")" /y "/reg:$view" >/dev/null 2>&1 ||
      e2e_die "cannot save the shell-link class of the $view-bit registry view"
  done
  for view in "${E2E_REG_VIEWS[@]}"; do
    [ -f "$E2E_SHELL_LINK_REG.$view" ] || continue
    # Where both views share one key, the first delete took it already.
    kestrin_reg query "$E2E_SHELL_LINK_KEY" "/reg:$view" >/dev/null 2>&1 || continue
    kestrin_reg delete "$E2E_SHELL_LINK_KEY" /f "/reg:$view" >/dev/null 2>&1 ||
      e2e_die "cannot remove the shell-link class from the $view-bit registry view"
  done
  for view in "${E2E_REG_VIEWS[@]}"; do
    ! kestrin_reg query "$E2E_SHELL_LINK_KEY" "/reg:$view" >/dev/null 2>&1 ||
      e2e_die "the shell-link class is still in the $view-bit registry view"
  done
}

e2e_restore_shell_link_class() {
  [ -n "${E2E_SHELL_LINK_REG:-}" ] || return 0
  local view saved
  for view in "${E2E_REG_VIEWS[@]}"; do
    saved="$E2E_SHELL_LINK_REG.$view"
    [ -f "$saved" ] || continue
    if kestrin_reg import "$(kestrin_winepath -w "$saved" 2>/dev/null)" "/reg:$view" >/dev/null 2>&1; then
      rm -f "$saved"
    else
      echo "e2e: could not restore the shell-link class from $saved" >&2
    fi
  done
}

# ---- checks: expect, expect_range, expect_ok, expect_fail and expect_verdict
# of the test kit's check helper, shared with every shell test.
# shellcheck source=../../testkit/shell/expect.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../testkit/shell/expect.sh"
