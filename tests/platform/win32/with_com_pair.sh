#!/usr/bin/env bash
# Runs a Windows test program under Wine with two COM ports joined back to
# back: socat joins two pseudo-terminals, and the COM21 and COM22 of a Wine
# prefix of their own (PREFIX-DIR-serial) lead to them. The program finds
# the ports in KIRU_TEST_COM_PAIR.
#   with_com_pair.sh WINE-RUN PREFIX-DIR PROGRAM.exe [ARGS...]
# Exits 77 when socat is not installed.
#
# The Wine server that opened a terminal gets a hang-up when socat closes
# it, and prints all its objects: it is stopped before socat, which is why
# the prefix is this script's alone.
set -euo pipefail
wine_run="$1"
prefix="$2-serial"
shift 2
wineserver=wineserver
for candidate in /usr/lib/wine/wineserver64 /usr/bin/wineserver; do
  if [ -x "$candidate" ]; then wineserver="$candidate"; break; fi
done
if ! command -v socat >/dev/null; then
  echo "socat is not installed, so no pair of COM ports can be made"
  exit 77
fi
folder="$(mktemp -d "${TMPDIR:-/tmp}/kiru-com-XXXXXX")"
socat_pid=""
links=("$prefix/dosdevices/com21" "$prefix/dosdevices/com22")
cleanup() {
  WINEPREFIX="$prefix" "$wineserver" -k 2>/dev/null || true
  if [ -n "$socat_pid" ]; then
    kill "$socat_pid" 2>/dev/null || true
    wait "$socat_pid" 2>/dev/null || true
  fi
  rm -f "${links[@]}"
  rm -rf "$folder"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

socat -d -d "pty,raw,echo=0,link=$folder/a" "pty,raw,echo=0,link=$folder/b" 2>"$folder/socat.log" &
socat_pid=$!
# socat reports the transfer loop once both ends exist.
for _ in $(seq 100); do
  if grep -q "starting data transfer loop" "$folder/socat.log"; then break; fi
  if ! kill -0 "$socat_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
if ! grep -q "starting data transfer loop" "$folder/socat.log"; then
  echo "socat did not join the pseudo-terminals:"
  cat "$folder/socat.log"
  exit 1
fi
# Wine sets a prefix up only in a folder that does not hold one yet, so the
# prefix is made before the links go into it.
if [ ! -e "$prefix/dosdevices/c:" ]; then
  "$wine_run" "$prefix" wineboot --init >/dev/null 2>&1
fi
ln -sfn "$folder/a" "${links[0]}"
ln -sfn "$folder/b" "${links[1]}"
export KIRU_TEST_COM_PAIR="COM21 COM22"
"$wine_run" "$prefix" "$@"
