#!/usr/bin/env bash
# Peak memory of "tessavane-cli check" when the first descriptor's server never answers and
# N more (descriptors and a 4 KB media file from a local nginx) finish behind it: results held
# back for the first one.
# Usage: [TIMEOUT=s] bench/check/run-memory.sh BUILD/bin/tessavane-cli [N...]   (default N: 1000 10000;
# the first descriptor gives up after TIMEOUT s, default 20)
set -euo pipefail
cli=$(realpath "$1")
shift
counts=("$@")
((${#counts[@]})) || counts=(1000 10000)
nginx=/usr/sbin/nginx
work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
pick_port() {
    local p=$((20000 + RANDOM % 20000))
    until port_free "$p"; do p=$((20000 + RANDOM % 20000)); done
    echo "$p"
}
port=$(pick_port)
silent=$(pick_port)

mkdir -p "$work/www/b" "$work/tmp"
"$cli" server-config nginx >"$work/types.conf"
head -c 4096 /dev/urandom >"$work/www/b/m.mid"
{
    [ "$(id -u)" -eq 0 ] && echo "user root;"
    echo "master_process off; pid $work/nginx.pid; error_log $work/error.log warn;"
    echo "events { worker_connections 256; }"
    echo "http { access_log off; client_body_temp_path $work/tmp;"
    echo "  server { listen 127.0.0.1:$port; root $work/www; include $work/types.conf; } }"
} >"$work/nginx.conf"
"$nginx" -p "$work/" -e "$work/error.log" -c "$work/nginx.conf" -g 'daemon off;' &
pids+=($!)
# Listens and never accepts: the kernel completes the handshake, no answer ever comes.
python3 -c "import socket,time; s=socket.socket(); s.bind(('127.0.0.1',$silent)); s.listen(64); time.sleep(600)" &
pids+=($!)
for _ in $(seq 100); do ! port_free "$port" && ! port_free "$silent" && break; sleep 0.05; done

echo "| descriptors | seconds | peak RSS (MB) |"
echo "|---:|---:|---:|"
for n in "${counts[@]}"; do
    urls=("http://127.0.0.1:$silent/first.gcd")
    for i in $(seq "$n"); do
        [ -e "$work/www/b/t$i.gcd" ] ||
            printf 'Content-Type: audio/midi\r\nContent-Name: t%s\r\nContent-Version: 1\r\nContent-Vendor: Bench\r\nContent-URL: http://127.0.0.1:%s/b/m.mid\r\nContent-Size: 4096\r\n' \
                "$i" "$port" >"$work/www/b/t$i.gcd"
        urls+=("http://127.0.0.1:$port/b/t$i.gcd")
    done
    start=$(date +%s.%N)
    /usr/bin/time -f %M -o "$work/rss" "$cli" check --parallel 16 --timeout "${TIMEOUT:-20}" "${urls[@]}" \
        >"$work/out" || true
    end=$(date +%s.%N)
    tail -1 "$work/out" | grep -q "^$n of $((n + 1)) " || { echo "check failed:"; tail "$work/out"; exit 1; }
    awk -v n="$n" -v s="$start" -v e="$end" -v k="$(tail -n1 "$work/rss")" \
        'BEGIN { printf "| %d | %.1f | %.1f |\n", n, e - s, k / 1024 }'
done
