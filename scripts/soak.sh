#!/usr/bin/env bash
# Soak run: the real program under Xvfb against korvane-sim with every fault
# at 5 %, connected, live logs on, for MINUTES minutes (default 1):
#
#   scripts/soak.sh 30
#
# Whenever the link drops (the live log stops growing) it disconnects and
# connects again, as a user would. At the end it checks that
#  - the window still answers: the log view hands over its text through the
#    X clipboard, and a new connect writes log lines again;
#  - its memory (VmRSS) grew by at most KORVANE_SOAK_RSS_MB (default 40 MiB)
#    from the first reading after the first connect;
#  - every live log is whole CP1251 text with CR LF line ends, every line
#    with the header's number of fields, and every image copy is 65 536
#    bytes;
#  - the program created, wrote, renamed or removed nothing outside its
#    working folder (its file calls are traced with strace).
# Figures go to stdout and build/soak/report.txt (among them the connects
# per hour the soak needed: one when the session never dropped); the status
# is 0 only when every check passed.
set -euo pipefail
# (Pipes end in sed, not head: with pipefail a writer cut off by head would
# fail the whole script once its output outgrows the pipe's buffer.)
cd "$(dirname "$0")/.."
top=$(pwd)
minutes=${1:-1}
build=${KORVANE_BUILD_DIR:-build}
rss_bound_mb=${KORVANE_SOAK_RSS_MB:-40}
soak="$top/$build/soak"
work="$soak/work"

for tool in Xvfb xdotool xclip strace iconv python3; do
  command -v "$tool" >/dev/null || { echo "soak.sh: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done
if [ ! -x "$build/korvane" ] || [ ! -x "$build/korvane-sim" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j "$(nproc)" --target korvane korvane-sim
fi

rm -rf "$soak"
mkdir -p "$work"
report="$soak/report.txt"
: >"$report"
say() { echo "$*" | tee -a "$report"; }
failures=0
fail() { say "FAIL: $*"; failures=$((failures + 1)); }

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

# A display of our own.
n=120
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >"$soak/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$n"
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

# The simulated car, every fault kind at 5 %.
faults=silence=0.05,nochecksum=0.05,noecho=0.05,negative=0.05,late=0.05,lc1silence=0.05,lc1error=0.05
"$build/korvane-sim" make-firmware "$work/j5ls.bin" >/dev/null
"$build/korvane-sim" --ecu "$work/ecu" --lc1 "$work/lc1" --scenario drive --seed 7 \
  --firmware "$work/j5ls.bin" --faults "$faults" >"$soak/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "$work/ecu" ] && [ -e "$work/lc1" ] && break; sleep 0.1; done

{
  printf '%s\r\n' "Тип ECU=обычный" "Ecu Com=$work/ecu" "Скорость ECU COM=38400" \
    "Таймаут1=20" "Таймаут2=150" "LC-1 Com=$work/lc1" "Таймаут LC-1=80" \
    "Протокол обмена=KWP2000" "Загрузить последнюю прошивку=да" \
    "Прошивка по умолчанию=j5ls.bin" "Интервал обновления экрана=100" \
    "Стационарность по RPM=100" "Стационарность по %=100" "Стационарность по циклам=4" \
    "Не настраивать ниже %=2" "Количество циклов для обработки=7" \
    "Весовой коэф. коррекции(%)=70" "Писать логи=да" "Интервал коррекции БЦН(мс)=120000" \
    "Время перезаписи прошивки(мс)=500" "Коэф. обучения соседних РТ=" \
    "Интервал обучения соседних РТ=" "Датчик кислорода=ШДК LC-1" \
    "Загрузить прошивку по умолчанию=да"
} | iconv -f UTF-8 -t CP1251 >"$work/config.ini"
cp "$work/config.ini" "$soak/config.ini.before"

# The program, its file calls traced (children and threads too).
mkdir -m 700 "$soak/runtime"
(cd "$work" && XDG_RUNTIME_DIR="$soak/runtime" exec strace -f -qq --seccomp-bpf -o "$soak/files.trace" \
   -e trace=open,openat,creat,rename,renameat,renameat2,mkdir,mkdirat,unlink,unlinkat,link,linkat,symlink,symlinkat,truncate \
   "$top/$build/korvane") >"$soak/korvane.out" 2>&1 &
tracer=$!
pids+=($tracer)
pid=""
for _ in $(seq 100); do
  pid=$(pgrep -P "$tracer" -x korvane || true)
  [ -n "$pid" ] && break
  sleep 0.1
done
[ -n "$pid" ] || { fail "the program did not start"; exit 1; }

win=$(xdotool search --sync --onlyvisible --name '^Korvane' | sed -n 1p)
eval "$(xdotool getwindowgeometry --shell "$win")"
# The tool bar's first two buttons (connect, disconnect) sit at the top of
# the client area, below the menu bar.
menu=$((HEIGHT - 523))
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }
connect() { click 22 $((menu + 15)); }
disconnect() { click 45 $((menu + 15)); }

rss() { awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0; }
newest_session() { ls -1dt "$work"/??.??.??-??.??.?? 2>/dev/null | sed -n 1p; }
log_size() { local d; d=$(newest_session); [ -n "$d" ] && stat -c %s "$d/лог.xls" 2>/dev/null || echo 0; }
# Waits up to $1 seconds for the newest session's log to grow beyond $2 bytes.
log_grows() {
  local until=$((SECONDS + $1))
  while [ $SECONDS -lt $until ]; do
    [ "$(log_size)" -gt "$2" ] && return 0
    sleep 0.5
  done
  return 1
}

connect
connects=1
reconnects=0
log_grows 30 0 || fail "the first connect wrote no log line within 30 s"
sleep 5
rss_start=$(rss)
rss_max=$rss_start
echo "seconds,rss_kb,sessions" >"$soak/rss.csv"

end=$((SECONDS + minutes * 60))
last_size=$(log_size)
last_growth=$SECONDS
while [ $SECONDS -lt $end ]; do
  sleep 2
  kill -0 "$pid" 2>/dev/null || { fail "the program ended during the soak"; break; }
  r=$(rss)
  [ "$r" -gt "$rss_max" ] && rss_max=$r
  echo "$SECONDS,$r,$connects" >>"$soak/rss.csv"
  size=$(log_size)
  if [ "$size" -gt "$last_size" ]; then
    last_size=$size
    last_growth=$SECONDS
  elif [ $((SECONDS - last_growth)) -ge 6 ]; then
    # The link dropped (the eleventh error) or never came up: start again.
    disconnect
    sleep 1.5
    connect
    sleep 1.2  # session folders are named by the second
    connects=$((connects + 1))
    reconnects=$((reconnects + 1))
    last_size=0
    last_growth=$SECONDS
  fi
done
rss_end=$(rss)

say "soak: $minutes min, faults $faults"
say "connects: $connects (reconnects after a dropped link: $reconnects)"
say "connects per hour: $(awk -v c="$connects" -v m="$minutes" 'BEGIN { printf "%.0f", c * 60 / m }')"
say "memory (VmRSS): start $((rss_start / 1024)) MiB, end $((rss_end / 1024)) MiB, max $((rss_max / 1024)) MiB"
if [ $((rss_end - rss_start)) -gt $((rss_bound_mb * 1024)) ]; then
  fail "memory grew by $(((rss_end - rss_start) / 1024)) MiB (bound $rss_bound_mb MiB)"
fi

# Responsive: the log view hands its text over through the clipboard (the
# program's event loop must answer the request) ...
click $((WIDTH - 120)) $((menu + 200))
xdotool key --window "$win" ctrl+a ctrl+c
sleep 0.5
if timeout 10 xclip -o -selection clipboard >"$soak/memo.txt" 2>/dev/null && [ -s "$soak/memo.txt" ]; then
  errors=$(grep -c '^Ошибка №' "$soak/memo.txt" || true)
  lc1_errors=$(grep -c '^LAMBDA:<<' "$soak/memo.txt" || true)
  say "log view: $(wc -l <"$soak/memo.txt") lines, ECU errors logged: $errors, LC-1 errors logged: $lc1_errors"
else
  fail "the window did not hand over its log text"
fi
# ... and a new connect writes log lines again.
disconnect
sleep 1.5
before=$(newest_session)
connect
connects=$((connects + 1))
sleep 1.2
if log_grows 30 0 && [ "$(newest_session)" != "$before" ]; then
  say "responsive: a connect after the soak writes log lines"
else
  fail "a connect after the soak wrote no log line"
fi
disconnect
sleep 1.5

# Closing the window ends the program. Without a window manager the close
# request (WM_DELETE_WINDOW) is sent by hand.
close_window() {
  python3 - "$1" <<'PY'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                         ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("l", ctypes.c_long * 5)]
class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]
d = x.XOpenDisplay(None)
if not d:
    sys.exit(1)
window = int(sys.argv[1])
e = Event()
e.xclient.type = 33  # ClientMessage
e.xclient.window = window
e.xclient.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
e.xclient.format = 32
e.xclient.l[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(d, window, 0, 0, ctypes.byref(e))
x.XFlush(d)
x.XCloseDisplay(d)
PY
}
close_window "$win" || kill "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
  fail "the program did not end within 10 s of closing its window"
  kill "$pid" || true
fi
wait "$tracer" 2>/dev/null || true

# The files it left.
sessions=0
logs_checked=0
images_checked=0
for d in "$work"/??.??.??-??.??.??; do
  [ -d "$d" ] || continue
  sessions=$((sessions + 1))
  for f in "$d/лог.xls" "$d/лог2-CSV.csv" "$d/лог2.csv"; do
    [ -e "$f" ] || continue
    logs_checked=$((logs_checked + 1))
    sep=$'\t'
    [ "${f##*.}" = csv ] && sep=,
    iconv -f CP1251 -t UTF-8 "$f" >/dev/null 2>&1 || fail "$f is not CP1251 text"
    [ ! -s "$f" ] || [ "$(tail -c 2 "$f" | od -An -tx1 | tr -d ' \n')" = 0d0a ] ||
      fail "$f does not end with a whole line"
    bad=$(awk -v FS="$sep" '{ if ($0 !~ /\r$/) { print "line " NR " without CR LF"; exit }
                              if (NR == 1) n = NF; else if (NF != n) { print "line " NR ": " NF " fields, header " n; exit } }' "$f")
    [ -z "$bad" ] || fail "$f: $bad"
  done
  for f in "$d"/*.bin; do
    [ -e "$f" ] || continue
    images_checked=$((images_checked + 1))
    [ "$(stat -c %s "$f")" -eq 65536 ] || fail "$f has $(stat -c %s "$f") bytes"
  done
  leftovers=$(find "$d" -name '.*.korvane-*.tmp' -newer "$soak/config.ini.before" | sed -n 1,3p)
  [ -z "$leftovers" ] || say "note: temporary files left in $d: $leftovers"
done
say "files checked: $sessions session folders, $logs_checked live logs, $images_checked image copies"
[ "$logs_checked" -gt 0 ] || fail "no live log was written"

# Nothing written outside the working folder: every call that creates,
# writes, renames or removes names a path inside it (relative paths are,
# the program runs there) or a device.
outside=$(grep -E 'open(at)?\(.*(O_WRONLY|O_RDWR|O_CREAT|O_TRUNC)|creat\(|rename|mkdir|unlink|link\(|linkat|symlink|truncate' \
            "$soak/files.trace" | grep -v ' = -1 ' |
          grep -oE '"[^"]*"' | tr -d '"' | grep -E '^/|(^|/)\.\.(/|$)' |
          grep -vE "^$work(/|\$)|^/dev/(pts/|ptmx|tty|null)" | sort -u || true)
if [ -n "$outside" ]; then
  fail "written outside the working folder: $(echo "$outside" | sed -n 1,5p | tr '\n' ' ')"
else
  say "nothing written outside the working folder"
fi
cmp -s "$work/config.ini" "$soak/config.ini.before" || say "note: config.ini was saved during the soak"

if [ $failures -eq 0 ]; then say "soak: passed"; else say "soak: $failures check(s) failed"; fi
[ $failures -eq 0 ]
