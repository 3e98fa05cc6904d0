#!/usr/bin/env bash
# Soak run: the whole bench (remote scenario) under a sanitizer build for a given time,
# with remote clients coming and going, panel and service keyboard keys, the station's
# frequency and transmission moving and faults injected and removed; then the controller
# is ended by F12 and the figures are reported.
#
#   tools/soak.sh BUILD_DIR SECONDS [REPORT_FILE]
#
# BUILD_DIR holds sim/corvid-bench, app/corvid and client/corvid-remote (build-tsan or
# build-asan: `make soak` builds them). The report goes to REPORT_FILE (default
# BUILD_DIR/soak-report.txt) and to standard output; the run's logs stay in the work
# folder the report names. Exit status 0: no sanitizer report, the controller ended by
# F12 with status 0 within SOAK_EXIT_LIMIT seconds and every thread it ran was joined;
# 1 otherwise; 2 for a usage or start-up error.
#
# Environment: SOAK_SEED (the random choices; printed), SOAK_EXIT_LIMIT (seconds from F12
# to the controller's end, 60), SOAK_WORK (the work folder, default a fresh one in /tmp).
set -u -o pipefail

usage() {
  echo "usage: tools/soak.sh BUILD_DIR SECONDS [REPORT_FILE]" >&2
  exit 2
}
[ $# -ge 2 ] && [ $# -le 3 ] || usage
case "$2" in '' | *[!0-9]*) usage ;; esac

BUILD=$(cd "$1" 2>/dev/null && pwd) || { echo "soak: no folder $1" >&2; exit 2; }
DURATION=$2
REPORT=${3:-$BUILD/soak-report.txt}
BENCH=$BUILD/sim/corvid-bench
CORVID=$BUILD/app/corvid
REMOTE=$BUILD/client/corvid-remote
for program in "$BENCH" "$CORVID" "$REMOTE"; do
  [ -x "$program" ] || { echo "soak: no program $program (build it first)" >&2; exit 2; }
done
SEED=${SOAK_SEED:-$(( $(date +%s) % 100000 ))}
RANDOM=$SEED
EXIT_LIMIT=${SOAK_EXIT_LIMIT:-60}
WORK=${SOAK_WORK:-$(mktemp -d /tmp/corvid-soak.XXXXXX)}
mkdir -p "$WORK"
ROOT=$WORK/root
NAMES=$(dirname "$0")/../errors/errors_state.h
SANITIZE=$(sed -n 's/^CORVID_SANITIZE:STRING=//p' "$BUILD/CMakeCache.txt" 2>/dev/null)

# Sanitizer reports go on the programs' standard error; none stops the run.
export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}halt_on_error=0:second_deadlock_stack=1"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}halt_on_error=0:detect_leaks=1"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1"

# The lines a sanitizer report begins with.
REPORT_PATTERN='WARNING: ThreadSanitizer|ERROR: AddressSanitizer|runtime error:|LeakSanitizer'

log() { echo "soak: $*" >&2; }
now() { date +%s; }
pick() { local -n list=$1; echo "${list[RANDOM % ${#list[@]}]}"; }
between() { echo $(( $1 + RANDOM % ($2 - $1 + 1) )); }

# A tone for the client's audio: one second, 48 kHz, 16 bits, mono.
python3 - "$WORK/tone.wav" <<'EOF' || { echo "soak: cannot write the tone" >&2; exit 2; }
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(48000)
    w.writeframes(b"".join(struct.pack("<h", int(9000 * math.sin(2 * math.pi * 700 * i / 48000)))
                           for i in range(48000)))
EOF

: >"$WORK/keys.log"; : >"$WORK/service-keys.log"; : >"$WORK/faults.log"; : >"$WORK/clients.log"
: >"$WORK/station.log"; : >"$WORK/samples.txt"; : >"$WORK/tools.err"; : >"$WORK/client.err"
: >"$WORK/client-stats.log"; : >"$WORK/panel-notes.log"

log "work folder $WORK, seed $SEED, $DURATION s, build $BUILD (${SANITIZE:-no sanitizer})"
"$BENCH" --dir "$ROOT" --fresh --scenario remote --corvid "$CORVID" --web 0 \
  >"$WORK/bench.out" 2>"$WORK/bench.err" &
BENCH_PID=$!
LOOP_PIDS=()
# On any early end (an error, Ctrl-C) nothing of this run is left behind: the load's
# loops, then the bench, which stops the controller.
cleanup() {
  local pid
  for pid in "${LOOP_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  if kill -0 "$BENCH_PID" 2>/dev/null; then
    kill -TERM "$BENCH_PID" 2>/dev/null
    wait "$BENCH_PID" 2>/dev/null
  fi
}
trap cleanup EXIT
trap 'exit 2' INT TERM

fail_start() {
  log "$1"
  exit 2
}

# The server's port, the web view's port and the controller's process.
PORT= WEB= CPID=
for _ in $(seq 1 120); do
  kill -0 "$BENCH_PID" 2>/dev/null || fail_start "the bench ended at its start (see $WORK/bench.out)"
  PORT=$(sed -n 's/^corvid-bench: remote client: corvid-remote 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$WORK/bench.out")
  WEB=$(sed -n 's|^corvid-bench: web view http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$WORK/bench.out")
  CPID=$(ps -o pid= --ppid "$BENCH_PID" 2>/dev/null | tr -d ' ' | head -n 1)
  [ -n "$PORT" ] && [ -n "$WEB" ] && [ -n "$CPID" ] && break
  sleep 0.5
done
[ -n "$PORT" ] && [ -n "$WEB" ] && [ -n "$CPID" ] || fail_start "no server port, web view or controller"
log "bench $BENCH_PID, controller $CPID, server port $PORT, web view $WEB"

# The start-up: the loader's countdown, then the key thread and the server.
STARTED=0
for _ in $(seq 1 240); do
  kill -0 "$CPID" 2>/dev/null || fail_start "the controller ended at its start"
  if grep -q "Continuous keyboard loop started" "$WORK/bench.out" &&
     grep -q "SOCKET SERVER start" "$WORK/bench.out"; then
    STARTED=1
    break
  fi
  sleep 0.5
done
[ "$STARTED" = 1 ] || fail_start "the controller did not start within 120 s"
sleep 5

LOAD_START=$(now)
END=$(( LOAD_START + DURATION ))

sample() {
  local rss thr fds
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$CPID/status" 2>/dev/null)
  thr=$(awk '/^Threads:/ {print $2}' "/proc/$CPID/status" 2>/dev/null)
  fds=$(ls "/proc/$CPID/fd" 2>/dev/null | wc -l)
  echo "$(( $(now) - LOAD_START )) ${rss:-?} $fds ${thr:-?} ${1:--}" >>"$WORK/samples.txt"
}

web_post() { curl -s -o /dev/null -w '%{http_code}' --max-time 5 -X POST -d "$2" "http://127.0.0.1:$WEB/$1"; }
panel_state() {
  curl -s --max-time 5 "http://127.0.0.1:$WEB/state" | sed -n 's/.*"panelState":"\([^"]*\)".*/\1/p'
}

# ---- the remote clients: one session after the other ----
WORDS=("VORNAN 1" "VORNAN 2" "VORNAN 3" "VORNAT 0" "VORNAT 1" "VORNFT01" "VORNFT02" "VORNFT00"
       "VORNFD 4" "VORNFD 2" "VORNRE" "VORNTU0" "VORNTU1" "VORNPA0")
client_loop() {
  local n=0 kind secs rc args word i
  RANDOM=$(( SEED + 1 ))
  while :; do
    secs=$(between 4 20)
    [ $(( $(now) + secs + 5 )) -lt "$END" ] || break
    n=$(( n + 1 ))
    args=()
    for i in $(seq 1 "$(between 1 4)"); do word=$(pick WORDS); args+=(--send "$word"); done
    case $(( RANDOM % 10 )) in
      0 | 1 | 2 | 3) kind=audio
        args+=(--audio-in "$WORK/tone.wav" --audio-out "$WORK/rx.wav" --for "$secs" --stats) ;;
      4 | 5) kind=spectrum
        args+=(--send VORNFT01 --spectrum "$WORK/spectrum.png" --for "$secs" --stats) ;;
      6 | 7) kind=cat ;;
      8) kind=once; args+=(--once) ;;
      9) kind=bad-password ;;
    esac
    case $kind in
      cat)
        printf 'FA;\nMD;\nIF;\nFA00014250000;\nFA;\nAI0;\n' |
          timeout -k 5 $(( secs + 30 )) "$REMOTE" "127.0.0.1:$PORT" --password bench "${args[@]}" \
            --cat --for "$secs" --stats >"$WORK/client.out" 2>>"$WORK/client.err"
        rc=$? ;;
      bad-password)
        timeout -k 5 40 "$REMOTE" "127.0.0.1:$PORT" --password wrong --once \
          >"$WORK/client.out" 2>>"$WORK/client.err"
        rc=$? ;;
      *)
        timeout -k 5 $(( secs + 30 )) "$REMOTE" "127.0.0.1:$PORT" --password bench "${args[@]}" \
          >"$WORK/client.out" 2>>"$WORK/client.err"
        rc=$? ;;
    esac
    echo "$n $kind $rc" >>"$WORK/clients.log"
    grep '^frames ' "$WORK/client.out" | sed "s/^/$kind rc=$rc /" >>"$WORK/client-stats.log"
    sleep "$(between 1 3)"
  done
}

# ---- the panel's keys and the service keyboard ----
press() {
  if "$BENCH" press "$@" --dir "$ROOT" >/dev/null 2>>"$WORK/tools.err"; then
    echo "$(( $(now) - LOAD_START )) $*" >>"$WORK/keys.log"
  fi
  sleep 0.6
}
service_key() {
  if "$BENCH" key "$1" --dir "$ROOT" >/dev/null 2>>"$WORK/tools.err"; then
    echo "$(( $(now) - LOAD_START )) $1" >>"$WORK/service-keys.log"
  fi
  sleep 0.5
}
# Back to the main screen: key 1 leaves the tune screen, the menu, the memory table and
# the status page (the menu's editing is never entered here).
to_main() {
  local state
  for _ in 1 2 3 4 5 6; do
    state=$(panel_state)
    case $state in
      main) return 0 ;;
      tune | menu | memory-table | status) press 1 ;;
      *) return 1 ;;  # not a screen these keys lead to: left alone
    esac
    sleep 0.5
  done
  return 1
}
# Keys that walk the main and tune screens, the menu's sections, the memory table and the
# status page, and back. Left out: key 1 on the main screen (the bank), key 6 in the menu
# (its items: reboot, update, shut-down, local/remote), long 1 outside the main screen
# (the power-off), the tune keys 2 and 3 (a tune).
panel_loop() {
  local action
  RANDOM=$(( SEED + 2 ))
  while [ "$(now)" -lt "$END" ]; do
    if ! to_main; then
      echo "$(( $(now) - LOAD_START )) not on the main screen: $(panel_state)" >>"$WORK/panel-notes.log"
      sleep 5
      continue
    fi
    action=$(( RANDOM % 12 ))
    case $action in
      0 | 1) press 2 ;;                                  # the attenuator's next step
      2 | 3) press 3 ;;                                  # the next antenna
      4) press 4; press 4; sleep 1; press 4; press 1 ;;  # tune screen: bypass on, off
      5) press 5; press 4; press 4; press 3; press 1 ;;  # the menu's sections
      6 | 7) press 6 ;;                                  # the next view (spectrum, meters)
      8) press 6 --long; sleep 2; press 1 ;;             # the status page
      9) [ "$(panel_state)" = main ] && press 1 --long   # the memory table
         sleep 2; [ "$(panel_state)" = memory-table ] && press 1 ;;
      10) service_key SysRq; service_key F11 ;;          # a screenshot; the settings saved
      11) case $(( RANDOM % 2 )) in
            0) service_key F1; sleep 1; service_key F2 ;;  # DTR off, on
            1) service_key F3; sleep 1; service_key F4 ;;  # RTS off, on
          esac ;;
    esac
    sleep "$(between 1 4)"
  done
  to_main
}

# ---- the station: frequency moves and short transmissions ----
FREQUENCIES=(1840000 3650000 7050000 7150000 10120000 14070000 14250000 18100000 21200000
             24940000 28500000 50150000)
station_loop() {
  local hz code watts
  RANDOM=$(( SEED + 3 ))
  while [ "$(now)" -lt "$END" ]; do
    if [ $(( RANDOM % 6 )) = 0 ]; then
      watts=$(between 2 40)
      web_post drive "watts=$watts" >/dev/null
      code=$(web_post transmit "on=1")
      echo "$(( $(now) - LOAD_START )) transmit ${watts} W $code" >>"$WORK/station.log"
      sleep "$(between 2 5)"
      web_post transmit "on=0" >/dev/null
    else
      hz=$(pick FREQUENCIES)
      hz=$(( hz + (RANDOM % 41 - 20) * 1000 ))
      code=$(web_post frequency "hz=$hz")
      echo "$(( $(now) - LOAD_START )) frequency $hz $code" >>"$WORK/station.log"
    fi
    sleep "$(between 2 6)"
  done
  web_post transmit "on=0" >/dev/null
}

# ---- faults: one word at a time in DIR/bench/faults (or a sound device's fault file) ----
FAULTS=(amp-temp1:75 amp-temp2:80 amp-late:500 amp-lower-crc amp-high-swr amp-alarm:01
        amp-status-c:8 amp-silent amp-garbage cat-pieces cat-gone cat-silent extio-junk
        extio-oversized extio-silent usb-stall usb-timeout audio-rx:stall audio-tx:stall
        audio-rx:gone)
set_fault() {  # WORD, or nothing to clear every fault
  local faults=$ROOT/bench/faults
  case ${1:-} in
    audio-rx:* | audio-tx:*)
      local side=${1%%:*}; side=${side#audio-}
      printf '%s\n' "${1#*:}" >"$ROOT/bench/audio/$side/fault.new" &&
        mv -f "$ROOT/bench/audio/$side/fault.new" "$ROOT/bench/audio/$side/fault" ;;
    '')
      rm -f "$ROOT/bench/audio/rx/fault" "$ROOT/bench/audio/tx/fault"
      : >"$faults.new" && mv -f "$faults.new" "$faults" ;;
    *) printf '%s\n' "$1" >"$faults.new" && mv -f "$faults.new" "$faults" ;;
  esac
}
fault_loop() {
  local word hold
  RANDOM=$(( SEED + 4 ))
  sleep "$(between 20 40)"
  while :; do
    hold=$(between 5 15)
    [ $(( $(now) + hold )) -lt "$END" ] || break
    word=$(pick FAULTS)
    set_fault "$word"
    echo "$(( $(now) - LOAD_START )) $word ${hold}s" >>"$WORK/faults.log"
    sleep "$hold"
    set_fault ""
    sleep "$(between 10 25)"
  done
  set_fault ""
}

mkdir -p "$ROOT/bench/audio/rx" "$ROOT/bench/audio/tx"
sample start
client_loop & CLIENT_PID=$!
panel_loop & PANEL_PID=$!
station_loop & STATION_PID=$!
fault_loop & FAULT_PID=$!
LOOP_PIDS=("$CLIENT_PID" "$PANEL_PID" "$STATION_PID" "$FAULT_PID")
log "load started: clients $CLIENT_PID, panel $PANEL_PID, station $STATION_PID, faults $FAULT_PID"

NEXT=$(( LOAD_START + 30 ))
while [ "$(now)" -lt "$END" ]; do
  if ! kill -0 "$CPID" 2>/dev/null; then log "the controller ended during the run"; break; fi
  if [ "$(now)" -ge "$NEXT" ]; then
    t=$(( NEXT - LOAD_START ))
    if [ "$t" = 60 ]; then sample 1min; else sample; fi
    NEXT=$(( NEXT + 30 ))
  fi
  sleep 1
done
log "time is up: waiting for the clients, keys, station and faults to finish"
wait "${LOOP_PIDS[@]}" 2>/dev/null
LOOP_PIDS=()
set_fault ""
sleep 10
sample end
# The threads running now, each to be joined after F12.
THREADS=$(for task in /proc/"$CPID"/task/*; do cat "$task/comm" 2>/dev/null; done | sort | tr '\n' ' ')

# ---- the end: F12 on the service keyboard ----
F12_AT=$(now)
"$BENCH" key F12 --dir "$ROOT" >/dev/null 2>>"$WORK/tools.err" || log "F12 not typed"
ENDED=0
while [ $(( $(now) - F12_AT )) -lt "$EXIT_LIMIT" ]; do
  if ! kill -0 "$BENCH_PID" 2>/dev/null; then ENDED=1; break; fi
  sleep 0.5
done
EXIT_SECONDS=$(( $(now) - F12_AT ))
HANG=""
if [ "$ENDED" = 0 ]; then
  HANG="the controller was still running $EXIT_LIMIT s after F12"
  log "$HANG: its threads' stacks in $WORK/hang-stacks.txt"
  if command -v gdb >/dev/null && kill -0 "$CPID" 2>/dev/null; then
    timeout 60 gdb -p "$CPID" -batch -ex "thread apply all bt" >"$WORK/hang-stacks.txt" 2>&1
  fi
  kill -TERM "$BENCH_PID" 2>/dev/null  # the bench stops the controller: TERM, then KILL
fi
wait "$BENCH_PID"
BENCH_RC=$?

# ---- the figures ----
OUT=$WORK/bench.out
count() { grep -Ec "$REPORT_PATTERN" "$1" 2>/dev/null; }
count_of() { grep -Ec "$1" "$2" 2>/dev/null; }
STATUS_LINE=$(grep -E '^corvid-bench: corvid (exited|ended|stopped)' "$OUT" | tail -n 1)
EXIT_CODE=$(echo "$STATUS_LINE" | sed -n 's/^corvid-bench: corvid exited with status \([0-9]*\)$/\1/p')
SAN_CONTROLLER=$(count "$OUT")
SAN_BENCH=$(count "$WORK/bench.err")
SAN_CLIENTS=$(count "$WORK/client.err")
SAN_TOOLS=$(count "$WORK/tools.err")
SAN_TOTAL=$(( SAN_CONTROLLER + SAN_BENCH + SAN_CLIENTS + SAN_TOOLS ))

# Each thread of the table seen running before F12 logs its join after "Exited by KEY_F12".
join_message() {
  case $1 in
    GPIO) echo GPIO ;; Linear) echo Linear ;; keyb) echo Key ;; Wsocket) echo Wsocket ;;
    Serial) echo Serial ;; th_scrivi) echo Spi ;; th_leggi) echo Touch ;; Cat) echo Cat ;;
    PEXRead) echo FFT ;; CatSerial) echo CatSerial ;; timer) echo Time ;;
  esac
}
AFTER_F12=$(sed -n '/Exited by KEY_F12/,$p' "$OUT")
JOINED="" MISSING=""
for thread in $THREADS; do
  message=$(join_message "$thread")
  [ -n "$message" ] || continue
  if grep -q "Communicator joined $message end" <<<"$AFTER_F12"; then
    JOINED+="$thread "
  else
    MISSING+="$thread "
  fi
done
for message in Key Linear Time GPIO; do  # always running
  grep -q "Communicator joined $message end" <<<"$AFTER_F12" || MISSING+="($message) "
done
grep -q "Exited by KEY_F12" "$OUT" || MISSING+="(no \"Exited by KEY_F12\") "
grep -q "^Closed!" "$OUT" || MISSING+="(no \"Closed!\") "

VERDICT=PASS
REASONS=""
[ "$SAN_TOTAL" = 0 ] || { VERDICT=FAIL; REASONS+=" sanitizer reports: $SAN_TOTAL;"; }
[ -z "$HANG" ] || { VERDICT=FAIL; REASONS+=" $HANG;"; }
[ "$BENCH_RC" = 0 ] && [ "$EXIT_CODE" = 0 ] ||
  { VERDICT=FAIL; REASONS+=" exit: ${STATUS_LINE#corvid-bench: } (bench status $BENCH_RC);"; }
[ -z "$MISSING" ] || { VERDICT=FAIL; REASONS+=" not joined: $MISSING;"; }

sample_line() {  # LABEL: the sample's figures
  awk -v l="$1" '$5 == l {printf "t=%ss RSS %s kB, %s descriptors, %s threads", $1, $2, $3, $4}' \
    "$WORK/samples.txt"
}
{
  echo "Corvid soak report"
  echo "build:      $BUILD (${SANITIZE:-no sanitizer})"
  echo "load:       $DURATION s, seed $SEED, $(date -u -d "@$LOAD_START" '+%F %T') to $(date -u -d "@$END" '+%T') UTC"
  echo "work:       $WORK (controller log: bench.out)"
  echo
  echo "sanitizer reports: $SAN_TOTAL"
  echo "  controller log (bench.out): $SAN_CONTROLLER"
  for p in "WARNING: ThreadSanitizer" "ERROR: AddressSanitizer" "runtime error:" "LeakSanitizer"; do
    echo "    $p: $(count_of "$p" "$OUT")"
  done
  echo "  bench stderr: $SAN_BENCH, clients: $SAN_CLIENTS, bench key/press tools: $SAN_TOOLS"
  echo
  echo "controller (pid $CPID):"
  echo "  start:  $(sample_line start)"
  echo "  1 min:  $(sample_line 1min)"
  echo "  end:    $(sample_line end)"
  awk -v half=$(( DURATION / 2 )) '
       NR == 1 {r0 = $2; f0 = $3} $5 == "1min" {r1 = $2; f1 = $3}
       !seen && $1 >= half {seen = 1; rh = $2; th = $1}
       {r = $2; f = $3; if ($3 > fm) fm = $3}
       END {printf "  growth: RSS %+d kB from the start, %+d kB from 1 min, %+d kB over the second half (from t=%ss);\n",
              r - r0, r - r1, r - rh, th
            printf "          descriptors %+d from the start, %+d from 1 min; most descriptors %d\n",
              f - f0, f - f1, fm}' "$WORK/samples.txt"
  case $SANITIZE in
    *address*) echo "  (AddressSanitizer holds freed memory in its quarantine, 256 MB by default: RSS rises until it is full; the second half tells)" ;;
    *thread*) echo "  (ThreadSanitizer's shadow and history memory rise with the run too)" ;;
  esac
  echo "  every 30 s (seconds, RSS kB, descriptors, threads):"
  awk '{printf "    %5s %8s %4s %3s %s\n", $1, $2, $3, $4, $5}' "$WORK/samples.txt"
  echo
  echo "errors raised (AddErrore, \"Add: N: .. err:E\"):"
  # The names of the error numbers, from the enumeration of errors_state.h.
  sed -n 's/^ *\([A-Za-z0-9]*\) = \([0-9]*\),.*/\2 \1/p' "$NAMES" 2>/dev/null >"$WORK/error-names.txt"
  grep -o 'Add: N: [0-9]* err:[0-9]*' "$OUT" | sed 's/.*err://' | sort -n | uniq -c |
    awk -v names="$WORK/error-names.txt" '
      BEGIN {while ((getline line < names) > 0) {split(line, f, " "); name[f[1]] = f[2]}}
      {printf "  error %s (%s): %d\n", $2, ($2 in name) ? name[$2] : "?", $1}
      END {if (NR == 0) print "  none"}'
  echo
  echo "client sessions: $(wc -l <"$WORK/clients.log")"
  awk '{k[$2 " exit " $3]++} END {for (x in k) printf "  %s: %d\n", x, k[x]}' "$WORK/clients.log" | sort
  echo "  server: $(count_of 'Connected by' "$OUT") connections, $(count_of 'required >.*< equals to >' "$OUT") logins, $(count_of 'required >.*< differ from >' "$OUT") passwords refused"
  echo "panel: $(wc -l <"$WORK/panel-notes.log") times not found on a screen these keys lead to (panel-notes.log)"
  echo "panel keys pressed: $(wc -l <"$WORK/keys.log"), taken by the controller: $(count_of '^key [1-6] (short|long)' "$OUT")"
  echo "service keyboard keys: $(wc -l <"$WORK/service-keys.log") (+ F12)"
  echo "station: $(grep -c frequency "$WORK/station.log") frequency moves, $(grep -c transmit "$WORK/station.log") transmissions"
  echo "faults injected: $(wc -l <"$WORK/faults.log")"
  awk '{k[$2]++} END {for (x in k) printf "  %s: %d\n", x, k[x]}' "$WORK/faults.log" | sort
  echo
  echo "end: F12 typed, ${STATUS_LINE#corvid-bench: } after ${EXIT_SECONDS} s (limit $EXIT_LIMIT s); bench status $BENCH_RC${HANG:+; $HANG}"
  echo "threads before F12: $THREADS"
  echo "joined after F12:   ${JOINED:-none}"
  echo "not joined:         ${MISSING:-none}"
  echo
  echo "verdict: $VERDICT${REASONS:+ -$REASONS}"
  if [ "$SAN_TOTAL" != 0 ]; then
    echo
    echo "first sanitizer report:"
    for f in "$OUT" "$WORK/bench.err" "$WORK/client.err" "$WORK/tools.err"; do
      line=$(grep -En "$REPORT_PATTERN" "$f" | head -n 1 | cut -d: -f1)
      if [ -n "$line" ]; then
        echo "  ($f, line $line)"
        sed -n "${line},$(( line + 40 ))p" "$f" | sed 's/^/  /'
        break
      fi
    done
  fi
} | tee "$REPORT"

[ "$VERDICT" = PASS ]
