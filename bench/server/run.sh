#!/usr/bin/env bash
# Benchmarks the service with wrk on loopback, against nginx answering "return 302" from its
# configuration in the same run, and prints the figures as ratios to nginx.
#
#   redirects: GET /<code> at 100 connections, 1,000,000 links stored in SQLite
#   shortens:  POST /short_url/api/ with a fresh address each time, on SQLite and on PostgreSQL
#
# Usage: bench/server/run.sh [seconds per run, default 10]; THREADS=N sets the SQLite service's
# worker threads (default: its own default). Builds what it needs in the default
# preset; starts everything on free ports in a temporary folder and stops it by pid at the end.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-10}
links=${LINKS:-1000000}
workers=${WORKERS:-2}

cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target quenbrel-server server_bench_seed >/dev/null
server=$PWD/build/default/server/quenbrel-server
seed=$PWD/build/default/bench/server/server_bench_seed

work=$(mktemp -d)
chmod 755 "$work"
pids=()
pg=
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  if [ -n "$pg" ]; then as_owner /usr/lib/postgresql/15/bin/pg_ctl -D "$work/pgroot/pg" -m fast -w stop >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
as_owner() { if [ "$(id -u)" -eq 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null && return 0; sleep 0.1; done; return 1; }

# wrk scripts: random codes from the seeded sample; a fresh address on every POST.
cat >"$work/redirect.lua" <<LUA
local codes = {}
for line in io.lines("$work/codes") do codes[#codes + 1] = line end
math.randomseed(os.time())
request = function() return wrk.format("GET", "/" .. codes[math.random(#codes)]) end
LUA
cat >"$work/shorten.lua" <<'LUA'
local counter = 0
local id = tostring(math.random(1, 1e9))
wrk.method = "POST"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
setup = function(thread) thread:set("tid", tostring(math.random(1, 1e9))) end
request = function()
  counter = counter + 1
  local body = "username=kolm&password=kolm&longurl=http%3A%2F%2Fexample.com%2F" ..
               (tid or id) .. "%2F" .. counter
  return wrk.format(nil, "/short_url/api/", nil, body)
end
LUA

# wrk's summary as "requests/s p99_ms", for the report below.
measure() { # url script
  local out
  out=$(wrk -t 2 -c 100 -d "${seconds}s" --latency ${2:+-s "$2"} "$1")
  local rps p99
  rps=$(awk '/^Requests\/sec/ {print $2}' <<<"$out")
  p99=$(awk '$1 == "99%" {v=$2; if (v ~ /us$/) {sub("us","",v); v/=1000} else if (v ~ /ms$/) {sub("ms","",v)} else if (v ~ /s$/) {sub("s","",v); v*=1000}; print v}' <<<"$out")
  local errors
  errors=$(awk '/Non-2xx or 3xx/ {print $5}' <<<"$out")
  echo "$rps $p99 ${errors:-0}"
}

echo "seeding $links links ..." >&2
"$seed" "$work/sqlite" "$links" "$work/codes"

nginx_port=$(free_port)
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes $workers;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  server {
    listen 127.0.0.1:$nginx_port;
    location / { return 302 http://example.com/target; }
  }
}
CONF
nginx -c "$work/nginx/nginx.conf" -g 'daemon off;' &
pids+=($!)

sqlite_port=$(free_port)
"$server" --data "$work/sqlite" --listen 127.0.0.1:"$sqlite_port" --quiet ${THREADS:+--threads "$THREADS"} \
  2>"$work/sqlite.log" &
pids+=($!)
wait_port "$nginx_port"
wait_port "$sqlite_port"

read -r nginx_rps nginx_p99 _ < <(measure "http://127.0.0.1:$nginx_port/" "$work/redirect.lua")
read -r redirect_rps redirect_p99 redirect_errors < <(measure "http://127.0.0.1:$sqlite_port/" "$work/redirect.lua")
# One login first, as a running service has: the figures are for verified accounts.
warm() { curl -s -o /dev/null --data 'username=kolm&password=kolm&longurl=http://example.com/warm' "$1/short_url/api/"; }
warm "http://127.0.0.1:$sqlite_port"
read -r sqlite_shortens sqlite_p99 sqlite_errors < <(measure "http://127.0.0.1:$sqlite_port/" "$work/shorten.lua")

# PostgreSQL: a throw-away cluster (fsync on, as in production).
pg_port=$(free_port)
mkdir "$work/pgroot"
[ "$(id -u)" -ne 0 ] || chown nobody "$work/pgroot"
as_owner /usr/lib/postgresql/15/bin/initdb -D "$work/pgroot/pg" -A trust -U postgres >/dev/null
as_owner /usr/lib/postgresql/15/bin/pg_ctl -D "$work/pgroot/pg" -l "$work/pgroot/log" -w \
  -o "-p $pg_port -k $work/pgroot -c listen_addresses=127.0.0.1" start >/dev/null
pg=1
database="postgresql://postgres@127.0.0.1:$pg_port/postgres"
echo kolm | "$server" --database "$database" user add kolm 2>/dev/null
pg_http=$(free_port)
"$server" --database "$database" --listen 127.0.0.1:"$pg_http" --quiet \
  2>"$work/pg-server.log" &
pids+=($!)
wait_port "$pg_http"
warm "http://127.0.0.1:$pg_http"
read -r pg_shortens pg_p99 pg_errors < <(measure "http://127.0.0.1:$pg_http/" "$work/shorten.lua")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
cat <<REPORT

baseline: nginx "return 302", $workers workers       $nginx_rps req/s, p99 $nginx_p99 ms
redirects, $links links in SQLite          $redirect_rps req/s, p99 $redirect_p99 ms, non-3xx $redirect_errors  ($(ratio "$redirect_rps" "$nginx_rps")x nginx)
shortens, SQLite                               $sqlite_shortens req/s, p99 $sqlite_p99 ms, non-2xx $sqlite_errors  ($(ratio "$sqlite_shortens" "$nginx_rps")x nginx)
shortens, PostgreSQL                           $pg_shortens req/s, p99 $pg_p99 ms, non-2xx $pg_errors  ($(ratio "$pg_shortens" "$nginx_rps")x nginx)
REPORT
