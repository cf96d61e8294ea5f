#!/usr/bin/env bash
# Memory over a long run of `tarvex view`: the demo board on the virtual clock (frames as fast as
# the view makes them), a client pulling every frame, the points now and then and the mask
# switched on and off, and the view's resident memory after a warm-up and at the end.  Not part
# of CI (ten minutes); the figure is in the README.
#
#   scripts/soak-view.sh [build-dir] [seconds]     (default build/release, 600)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
seconds=${2:-600}
cmake --build "$build" --target tarvex_cli -j"$(nproc)" > /dev/null

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
token=soak-token-0123456789abcdef
"$build/tools/tarvex" --demo --demo-virtual-clock view --port "$port" --token "$token" \
  > /dev/null 2>&1 &
pid=$!
trap 'kill -INT "$pid" 2> /dev/null || true; wait "$pid" || true' EXIT

/usr/bin/python3 - "$port" "$token" "$seconds" "$pid" <<'PY'
import http.client, json, struct, sys, time

port, token, seconds, pid = int(sys.argv[1]), sys.argv[2], float(sys.argv[3]), sys.argv[4]
headers = {"X-Tarvex-Token": token}
json_headers = dict(headers, **{"Content-Type": "application/json"})

def rss_kib():
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])

connection = None
for _ in range(100):
    try:
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
        connection.request("GET", "/api/state", headers=headers)
        connection.getresponse().read()
        break
    except OSError:
        time.sleep(0.1)

start = time.monotonic()
warm_up = min(30.0, seconds / 10)
seq, frames, rss_start = 0, 0, None
while time.monotonic() - start < seconds:
    connection.request("GET", f"/api/frame?after={seq}", headers=headers)
    response = connection.getresponse()
    body = response.read()
    if response.status == 200:
        length = struct.unpack_from("<I", body, 4)[0]
        seq = json.loads(body[16:16 + length])["seq"]
        frames += 1
        if frames % 100 == 0:
            connection.request("GET", "/api/points.csv", headers=headers)
            connection.getresponse().read()
        if frames % 1000 == 0:
            mask = '{"kind":"none"}' if frames % 2000 == 0 else \
                '{"kind":"hexagon","x1":0.25,"x2":0.4,"y1":0.25,"y2":0.2}'
            connection.request("POST", "/api/mask", body=mask, headers=json_headers)
            connection.getresponse().read()
    if rss_start is None and time.monotonic() - start >= warm_up:
        rss_start, frames_at_start = rss_kib(), frames
elapsed = time.monotonic() - start
rss_end = rss_kib()
print(f"{frames} frames in {elapsed:.0f} s ({frames / elapsed:.1f} per second)")
print(f"resident memory after {warm_up:.0f} s: {rss_start / 1024:.1f} MiB, "
      f"at the end: {rss_end / 1024:.1f} MiB ({(rss_end - rss_start) / 1024:+.1f} MiB)")
sys.exit(1 if rss_end - rss_start > 4096 else 0)
PY
