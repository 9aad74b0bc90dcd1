#!/usr/bin/env bash
# Real SCPI clients against `krl7741 serve --virtual`: PyVISA on its
# pure-Python backend (pyvisa_client.py) and lxi-tools; then Ctrl-C ends the
# server cleanly.
#   clients_test.sh KRL7741
set -euo pipefail
krl7741=$1
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp -d)
trap 'kill "$server" 2>/dev/null || true; rm -rf "$out"' EXIT

"$krl7741" serve --virtual --listen 127.0.0.1:0 >"$out/out" 2>"$out/err" &
server=$!
for _ in $(seq 100); do
  grep -q '^Listening on ' "$out/out" && break
  sleep 0.1
done
port=$(sed -n 's/^Listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out/out")
[[ -n $port ]] || { echo "FAIL the server did not say where it listens"; cat "$out/out" "$out/err"; exit 1; }

status=0
/usr/bin/python3 "$here/pyvisa_client.py" "$port" || status=1

idn=$(lxi scpi -r -a 127.0.0.1 -p "$port" '*IDN?')
[[ $idn == Halvern,KRL7741,EVB-0001,* ]] || { echo "FAIL lxi scpi *IDN?: $idn"; status=1; }
lxi scpi -r -a 127.0.0.1 -p "$port" 'PWM3 9' >/dev/null
last=$(lxi scpi -r -a 127.0.0.1 -p "$port" 'PWM3?;:LAST?')
[[ $last == '9;ACK,1,137,137' ]] || { echo "FAIL lxi scpi PWM3?;:LAST?: $last"; status=1; }
lxi benchmark -r -a 127.0.0.1 -p "$port" -c 200 >"$out/bench" || { echo "FAIL lxi benchmark"; cat "$out/bench"; status=1; }
grep -o 'Result: .*' "$out/bench" || true

kill -INT "$server"
wait "$server" && code=0 || code=$?
[[ $code -eq 0 ]] || { echo "FAIL Ctrl-C ended the server with status $code"; status=1; }
grep -qx 'krl7741: stopped serving' "$out/err" || { echo "FAIL no word at the end"; cat "$out/err"; status=1; }
exit $status
