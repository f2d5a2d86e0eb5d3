#!/usr/bin/env bash
# The Windows serial test under Wine against korvane-sim: the simulator's
# ECU pseudo-terminal becomes COM7 of the Wine prefix (a link in its
# dosdevices), the test program connects, polls, reads the whole memory and
# writes a table, and the simulator's memory, dumped when it ends, must hold
# that table. Wine sets 10400 baud by the custom-divisor convention, which a
# pseudo-terminal shows as 38400: the simulator is told to take it so.
#   wine-sim-test.sh WINE PREFIX TEST.exe KORVANE-SIM WORKDIR
set -euo pipefail
wine=$1 prefix=$2 exe=$3 sim=$4 work=$5
com=com7

if [ ! -x "$sim" ]; then
  echo "korvane-sim not found at $sim: build the Linux side first (cmake --build build --target korvane-sim)" >&2
  exit 1
fi
rm -rf "$work"
mkdir -p "$work"
"$sim" make-firmware "$work/firmware.bin"

"$sim" --ecu "$work/ecu" --lc1 "$work/lc1" --fast --scenario idle --custom-speed-38400 \
  --firmware "$work/firmware.bin" --dump-ram "$work/ram.bin" >"$work/sim.log" 2>&1 &
sim_pid=$!
cleanup() {
  kill "$sim_pid" 2>/dev/null || true
  rm -f "$prefix/dosdevices/$com"
}
trap cleanup EXIT
for _ in $(seq 100); do
  [ -L "$work/ecu" ] && break
  sleep 0.05
done
[ -L "$work/ecu" ] || { echo "korvane-sim did not start:" >&2; cat "$work/sim.log" >&2; exit 1; }

mkdir -p "$prefix/dosdevices"
ln -sfn "$(readlink -f "$work/ecu")" "$prefix/dosdevices/$com"

# The prefix's server, with its own output kept apart from the test's.
server="$(dirname "$wine")/wineserver"
[ -x "$server" ] && WINEPREFIX=$prefix "$server" -p5 >"$work/wineserver.log" 2>&1 || true

# Windows paths of our files: Wine's drive Z: is the Unix root.
winpath() { echo "Z:$1" | tr / '\\'; }
status=0
WINEPREFIX=$prefix WINEDEBUG=-all KORVANE_SIM_COM=COM7 \
  KORVANE_SIM_FIRMWARE="$(winpath "$work/firmware.bin")" \
  KORVANE_SIM_WRITTEN="$(winpath "$work/written.bin")" \
  "$wine" "$exe" || status=$?

kill -TERM "$sim_pid"
wait "$sim_pid" || true
[ "$status" -eq 0 ] || exit "$status"

# The table the test wrote is in the simulator's memory at its address.
python3 - "$work/written.bin" "$work/ram.bin" <<'PY'
import sys
written = open(sys.argv[1], "rb").read()
ram = open(sys.argv[2], "rb").read()
address = written[0] << 8 | written[1]
table = written[2:]
if len(ram) != 65536 or len(table) == 0 or ram[address:address + len(table)] != table:
    sys.exit("the simulator's memory does not hold the table written at 0x%04X" % address)
print("the simulator's memory holds the %d bytes written at 0x%04X" % (len(table), address))
PY
