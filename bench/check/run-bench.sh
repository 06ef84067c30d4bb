#!/usr/bin/env bash
# Times "tessavane-cli check" over N descriptors (each with a 4 KB media file) served by
# a local nginx on 127.0.0.1, with 1, 4 and 16 descriptors checked at once.
# Usage: bench/check/run-bench.sh BUILD/bin/tessavane-cli [N...]   (default N: 10 100 1000)
set -euo pipefail
cli=$(realpath "$1")
shift
counts=("$@")
((${#counts[@]})) || counts=(10 100 1000)
nginx=/usr/sbin/nginx
work=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=$((20000 + RANDOM % 20000))
until port_free "$port"; do port=$((20000 + RANDOM % 20000)); done

mkdir -p "$work/www" "$work/tmp"
"$cli" server-config nginx >"$work/types.conf"
{
    [ "$(id -u)" -eq 0 ] && echo "user root;"
    echo "master_process off; pid $work/nginx.pid; error_log $work/error.log warn;"
    echo "events { worker_connections 256; }"
    echo "http { access_log off; client_body_temp_path $work/tmp;"
    echo "  server { listen 127.0.0.1:$port; root $work/www; include $work/types.conf; } }"
} >"$work/nginx.conf"
"$nginx" -p "$work/" -e "$work/error.log" -c "$work/nginx.conf" -g 'daemon off;' &
pid=$!
for _ in $(seq 100); do port_free "$port" || break; sleep 0.05; done

echo "| descriptors | parallel | seconds | descriptors/s |"
echo "|---:|---:|---:|---:|"
for n in "${counts[@]}"; do
    rm -rf "$work/www/b"
    mkdir -p "$work/www/b"
    head -c 4096 /dev/urandom >"$work/media"
    for i in $(seq "$n"); do
        cp "$work/media" "$work/www/b/t$i.mid"
        printf 'Content-Type: audio/midi\r\nContent-Name: t%s\r\nContent-Version: 1\r\nContent-Vendor: Bench\r\nContent-URL: http://127.0.0.1:%s/b/t%s.mid\r\nContent-Size: 4096\r\n' \
            "$i" "$port" "$i" >"$work/www/b/t$i.gcd"
    done
    for parallel in 1 4 16; do
        start=$(date +%s.%N)
        "$cli" check --parallel "$parallel" --save-folder "$work/www/b" \
            --served-at "http://127.0.0.1:$port/b/" >"$work/out"
        end=$(date +%s.%N)
        tail -1 "$work/out" | grep -q "^$n of $n " || { echo "check failed:"; tail "$work/out"; exit 1; }
        awk -v n="$n" -v p="$parallel" -v s="$start" -v e="$end" \
            'BEGIN { printf "| %d | %d | %.3f | %.0f |\n", n, p, e - s, n / (e - s) }'
    done
done
