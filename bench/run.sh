#!/usr/bin/env bash
# Builds the benchmark (Release, in build-bench), starts a local FTP server and the address-echo
# CGI on 127.0.0.1, and measures: start-up, a soak of many checks in one process, the memory of
# the window with the controller open next to a bare window, and one check (in the window, and as
# a whole `zentrow-check` and `zentrow --check`) next to the same transfers by curl and by bare libcurl.
#   bench/run.sh            the full run (10,000 checks in the soak)
#   bench/run.sh --quick    fewer samples and 1,000 checks, for trying it out
# Every server it starts is stopped when it ends, however it ends.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
zentrow_install_missing

runs=300 cli_runs=60 checks=10000 startup_runs=20
if [ "${1:-}" = "--quick" ]; then
  runs=60 cli_runs=15 checks=1000 startup_runs=5
fi

build=build-bench
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZENTROW_TESTS=OFF -DZENTROW_BENCH=ON >/dev/null
if ! cmake --build "$build" --target zentrow zentrow-check zentrow_bench zentrow_startup zentrow_barewindow zentrow_peakrss \
  --parallel 2 >"$build/build.log" 2>&1; then
  cat "$build/build.log" >&2
  exit 1
fi

work=$(mktemp -d)
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
ftp_pid="" web_pid=""
stop_servers() {
  for pid in $ftp_pid $web_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop_servers EXIT
trap 'exit 130' INT TERM

# Waits up to 15 s for the first line of a file to hold a port number.
port_from() {
  local i line
  for i in $(seq 150); do
    line=$(head -n1 "$1" 2>/dev/null || true)
    line=${line#PORT }
    [[ "$line" =~ ^[0-9]+$ ]] && { echo "$line"; return 0; }
    sleep 0.1
  done
  echo "no port in $1: $(cat "$1" 2>/dev/null)" >&2
  return 1
}

mkdir -p "$work/ftp" "$work/www" "$work/bench"
/usr/bin/python3 tools/ftpserver.py "$work/ftp" bench bench >"$work/ftp.out" 2>"$work/ftp.log" &
ftp_pid=$!
cp gateway/nomrel.cgi "$work/www/"
tools/webserver.sh "$work/www" "$work/web" >"$work/web.out" 2>&1 &
web_pid=$!

ftp_port=$(port_from "$work/ftp.out")
web_port=$(port_from "$work/web.out")
url="http://127.0.0.1:$web_port/nomrel.cgi"
common=(--url "$url" --ftp "127.0.0.1:$ftp_port" --user bench --password bench --work "$work/bench")

echo "Zentrow benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -r)"
echo "address echo: $(curl -s "$url")"
echo
"$build/bench/zentrow_bench" startup --exe "$build/bench/zentrow_startup" --work "$work/bench" --runs "$startup_runs"
echo
"$build/bench/zentrow_bench" soak "${common[@]}" --checks "$checks" --max-seconds 900
echo
# Memory under Xvfb, both windows on one X server: X is the platform the windows run on for a user
# and the one the issue's figures were taken on; offscreen would leave out the X client libraries
# and keep its backing store in a QImage of its own, so it says less about what a desktop pays.
unset QT_QPA_PLATFORM
memory=$(xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bench/zentrow_bench" memory "${common[@]}" \
  --exe "$build/bench/zentrow_startup" --bare "$build/bench/zentrow_barewindow")
echo "$memory"
rss=$(sed -n 's/^RSS with the controller open: \([0-9]*\) KiB$/\1/p' <<<"$memory")
bare_rss=$(sed -n 's/^RSS of the bare window: \([0-9]*\) KiB$/\1/p' <<<"$memory")
echo
"$build/bench/zentrow_bench" transfers "${common[@]}" --runs "$runs" --cli-runs "$cli_runs" \
  --zentrow "$build/zentrow" --zentrow-check "$build/zentrow-check" --peakrss "$build/bench/zentrow_peakrss" --rss "$rss" --bare-rss "$bare_rss"
