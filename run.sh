#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulator (an ECU behind a
# K-line adapter and an LC-1, on pseudo-terminals) and opens Korvane in a
# working folder (demo/ unless another is given) set up to talk to it.
#
#   ./run.sh [working-folder]
#
# To use a real adapter instead, start build/korvane yourself in a folder
# whose config.ini names your serial devices (see README.md).
set -euo pipefail
cd "$(dirname "$0")"
top=$(pwd)
source scripts/deps.sh
korvane_install_deps

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(korvane)
if cmake --build build --target help | grep -q '^korvane-sim:'; then targets+=(korvane-sim); fi
cmake --build build -j "$(nproc)" --target "${targets[@]}"

workdir="${1:-demo}"
mkdir -p "$workdir"
workdir=$(cd "$workdir" && pwd)

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

if [ -z "${DISPLAY:-}" ]; then
  n=99
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x800x24 >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  echo "No display: Korvane runs under Xvfb on $DISPLAY (see it with a VNC server or take screenshots with 'import -window root')."
fi

if [ -x build/korvane-sim ]; then
  [ -f "$workdir/j5ls.bin" ] || build/korvane-sim make-firmware "$workdir/j5ls.bin"
  [ -f "$workdir/demo-map.xml" ] || build/korvane-sim make-map "$workdir/demo-map.xml"
  build/korvane-sim --ecu "$workdir/ecu" --lc1 "$workdir/lc1" --scenario drive \
    --firmware "$workdir/j5ls.bin" > "$workdir/korvane-sim.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [ -e "$workdir/ecu" ] && [ -e "$workdir/lc1" ] && break; sleep 0.1; done
  echo "Simulator: ECU on $workdir/ecu, LC-1 on $workdir/lc1 (its log: $workdir/korvane-sim.log)"

  # A demo config.ini pointing at the simulator, unless the folder has one.
  if [ ! -f "$workdir/config.ini" ]; then
    {
      printf '%s\r\n' "Тип ECU=обычный" "Ecu Com=$workdir/ecu" "Скорость ECU COM=38400" \
        "Таймаут1=20" "Таймаут2=150" "LC-1 Com=$workdir/lc1" "Таймаут LC-1=80" \
        "Протокол обмена=KWP2000" "Загрузить последнюю прошивку=да" \
        "Прошивка по умолчанию=j5ls.bin" "Интервал обновления экрана=100" \
        "Стационарность по RPM=100" "Стационарность по %=100" "Стационарность по циклам=4" \
        "Не настраивать ниже %=2" "Количество циклов для обработки=7" \
        "Весовой коэф. коррекции(%)=70" "Писать логи=да" "Интервал коррекции БЦН(мс)=120000" \
        "Время перезаписи прошивки(мс)=500" "Коэф. обучения соседних РТ=" \
        "Интервал обучения соседних РТ=" "Датчик кислорода=ШДК LC-1" \
        "Загрузить прошивку по умолчанию=да" "Карта прошивки=$workdir/demo-map.xml"
    } | iconv -f UTF-8 -t CP1251 > "$workdir/config.ini"
  fi
fi

cd "$workdir"
"$top/build/korvane" &
pids+=($!)
wait "${pids[-1]}"
