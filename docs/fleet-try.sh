#!/usr/bin/env bash
# Tries the receiving side described in docs/fleet.md on this machine, on 127.0.0.1 only:
# Debian's mosquitto and InfluxDB 1.x (influxd) started on free ports with throw-away data
# folders, two headless stations (S1, S2) recording with --mqtt, and mosquitto_sub piped into
# InfluxDB's HTTP /write endpoint in the place of Telegraf's MQTT consumer (data_format = "influx"
# hands the payload over unchanged). Then InfluxDB's counts are set against the recorders'
# summaries, and the Grafana dashboard's queries of fleet.md are run with a fixed station.
# Exits non-zero when anything differs or a query fails.
#
#   docs/fleet-try.sh BUILD_FOLDER [READINGS_PER_STATION]
#
# Needs mosquitto, mosquitto-clients, influxdb, influxdb-client, curl and python3 (Debian). Not
# part of the tests: CI has no InfluxDB.
set -euo pipefail

build=$(realpath "${1:?usage: $0 BUILD_FOLDER [READINGS_PER_STATION]}")
readings=${2:-3000}
program=$build/kv930
if [ ! -x "$program" ] || [ ! -f "$build/Lib/virtualmeter.so" ]; then
    echo "$build holds no kv930 and Lib/virtualmeter.so" >&2
    exit 2
fi
PATH=$PATH:/usr/sbin # mosquitto
for tool in mosquitto mosquitto_sub influxd influx curl python3; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 2; }
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kv930-fleet-try.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$tmp"
}
trap cleanup EXIT

# Three ports nobody listens on: the broker's, InfluxDB's HTTP and its RPC (bind-address).
read -r mqtt_port http_port rpc_port < <(python3 - <<'EOF'
import socket
socks = [socket.socket() for _ in range(3)]
for s in socks:
    s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in socks))
EOF
)
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
wait_for() { # port, what
    for _ in $(seq 100); do listening "$1" && return 0; sleep 0.1; done
    echo "$2 does not listen on 127.0.0.1:$1" >&2
    exit 1
}

# The broker. Started as root it would turn into the user "mosquitto".
cat > "$tmp/mosquitto.conf" <<EOF
user $(id -un)
listener $mqtt_port 127.0.0.1
allow_anonymous true
EOF
mosquitto -c "$tmp/mosquitto.conf" > "$tmp/mosquitto.log" 2>&1 &
pids+=($!)
wait_for "$mqtt_port" mosquitto

# InfluxDB with everything in $tmp. Debian's build calls the reporting switch
# reporting-enabled, upstream's reporting-disabled; each ignores the other's.
mkdir -p "$tmp/influxdb"
cat > "$tmp/influxdb.conf" <<EOF
reporting-disabled = true
reporting-enabled = false
bind-address = "127.0.0.1:$rpc_port"
[meta]
  dir = "$tmp/influxdb/meta"
[data]
  dir = "$tmp/influxdb/data"
  wal-dir = "$tmp/influxdb/wal"
  query-log-enabled = false
[monitor]
  store-enabled = false
[http]
  bind-address = "127.0.0.1:$http_port"
  log-enabled = false
EOF
influxd -config "$tmp/influxdb.conf" > "$tmp/influxd.log" 2>&1 &
pids+=($!)
wait_for "$http_port" influxd
influx_url=http://127.0.0.1:$http_port
version=$(curl -sS -o /dev/null -D - "$influx_url/ping" | tr -d '\r' |
          sed -n 's/^X-Influxdb-Version: //Ip')
q() { influx -host 127.0.0.1 -port "$http_port" -database kv930 "$@"; }
q -execute 'CREATE DATABASE kv930'

# The consumer: a persistent session (as Telegraf's persistent_session = true) made before the
# stations start, then every message's payload, as it comes, posted to /write.
sub=(mosquitto_sub -h 127.0.0.1 -p "$mqtt_port" -q 1 -c -i kv930-fleet-try -t 'kv930/+/+')
"${sub[@]}" -E
mkfifo "$tmp/messages"
"${sub[@]}" -N -F '%p\0' > "$tmp/messages" &
pids+=($!)
sub_pid=$!
while IFS= read -r -d '' payload; do
    printf '%s' "$payload" |
        curl -sS -f -o /dev/null --data-binary @- "$influx_url/write?db=kv930&precision=ns" ||
        echo "a write to InfluxDB failed" >&2
done < "$tmp/messages" &
pids+=($!)
forward_pid=$!

# Two stations recording at once, each with its settings and journal of its own; a reference
# and loss limits so that loss_db and verdict are published too.
mkdir -p "$tmp/Lib"
cp "$build/Lib/virtualmeter.so" "$tmp/Lib/"
printf '[meter]\nrate=1000\n' > "$tmp/Lib/virtualmeter.ini"
stations=(S1 S2)
declare -A station_pid
for s in "${stations[@]}"; do
    mkdir -p "$tmp/$s/config/kv930"
    printf '[analysis]\nreferences=1550=0\nlossLower=2.99\nlossUpper=3.01\n' \
        > "$tmp/$s/config/kv930/kv930.conf"
    env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
        XDG_CONFIG_HOME="$tmp/$s/config" XDG_DATA_HOME="$tmp/$s/data" \
        "$program" --headless --drivers "$tmp/Lib" --mqtt "mqtt://127.0.0.1:$mqtt_port" \
        --station "$s" --count "$readings" > "$tmp/$s.out" 2> "$tmp/$s.err" &
    station_pid[$s]=$!
done
expected=0
declare -A recorded
for s in "${stations[@]}"; do
    wait "${station_pid[$s]}" || { echo "station $s failed:" >&2; cat "$tmp/$s.err" >&2; exit 1; }
    summary=$(tail -n 1 "$tmp/$s.out")
    echo "$s: $summary"
    [[ $summary =~ ^([0-9]+)\ readings\ .*\ into\ ([^;]+)\;.*\;\ 0\ readings\ left\ unpublished$ ]] ||
        { echo "station $s did not publish everything" >&2; exit 1; }
    recorded[$s,${BASH_REMATCH[2]}]=${BASH_REMATCH[1]}
    expected=$((expected + BASH_REMATCH[1]))
done

# The broker has acknowledged every reading; wait until InfluxDB holds them.
total() {
    q -format csv -execute 'SELECT count("index") FROM optical_power' | awk -F, 'NR == 2 { print $3 }'
}
deadline=$((SECONDS + 30))
until [ "$(total)" = "$expected" ] || [ $SECONDS -ge $deadline ]; do sleep 0.2; done
kill "$sub_pid"
wait "$forward_pid" 2>/dev/null || true

echo
echo "InfluxDB $version"
echo "> SELECT count(dbm), count(\"index\") FROM optical_power GROUP BY station, item"
q -execute 'SELECT count(dbm), count("index") FROM optical_power GROUP BY station, item'
status=0
counts=$(q -format csv -execute \
    'SELECT count(dbm), count("index") FROM optical_power GROUP BY station, item')
for key in "${!recorded[@]}"; do
    station=${key%%,*} item=${key#*,}
    # name,tags,time,count,count_1; tags as "item=Measure1,station=S1" (quoted: it holds a comma)
    got=$(awk -F, -v s="station=$station" -v i="item=$item" \
        '{ t = $2 "," $3; gsub(/"/, "", t) } t ~ ("(^|,)" i "(,|$)") && t ~ ("(^|,)" s "(,|$)") { print $NF }' \
        <<< "$counts")
    if [ "$got" = "${recorded[$key]}" ]; then
        echo "$station/$item: ${recorded[$key]} recorded, $got in InfluxDB"
    else
        echo "$station/$item: ${recorded[$key]} recorded, ${got:-none} in InfluxDB: DIFFERENT" >&2
        status=1
    fi
done
# count(dbm) leaves out the readings over or under range: they have no dbm.
in_range=$(q -format csv -execute 'SELECT count("index") FROM optical_power WHERE overload = 0' |
           awk -F, 'NR == 2 { print $3 }')
all_dbm=$(q -format csv -execute 'SELECT count(dbm) FROM optical_power' | awk -F, 'NR == 2 { print $3 }')
if [ "$in_range" != "$all_dbm" ]; then
    echo "readings in range: $in_range, with dbm: $all_dbm: DIFFERENT" >&2
    status=1
fi

# Readings of one item in one millisecond are points of their own: the nanoseconds hold the
# index (counted from 0, modulo 10^6). Every point's time is checked for that, and the milliseconds holding
# more than one reading of an item are counted.
q -format csv -precision ns -execute 'SELECT "index", item, station FROM optical_power' |
    awk -F, 'NR > 1 {
        # name,time,index,item,station; a time has more digits than awk keeps
        ns = substr($2, length($2) - 5) + 0
        if (ns != ($3 - 1) % 1000000) bad++
        if (++n[$5 "/" $4 "/" substr($2, 1, length($2) - 6)] == 2) shared++
        points++
    }
    END {
        printf "%d points; %d milliseconds hold two or more readings of one item, each kept; ", points, shared
        printf "%d times without the index in their nanoseconds\n", bad
        exit (bad > 0 || points == 0)
    }' || status=1

# The queries of the Grafana dashboard in fleet.md, taken from its JSON, as Grafana sends them
# with $station, $timeFilter and $__interval filled in for station S1 and the last hour.
mapfile -t dashboard < <(python3 - "$(dirname "$0")/fleet.md" <<'EOF'
import json, re, sys
text = open(sys.argv[1], encoding="utf-8").read()
board = json.loads(re.search(r"```json\n(.*?)```", text, re.S).group(1))
queries = [v["query"] for v in board["templating"]["list"]]
queries += [t["query"] for p in board["panels"] for t in p["targets"]]
for q in queries:
    q = q.replace("$timeFilter", "time > now() - 1h").replace("$__interval", "1s")
    print(q.replace("$station", "S1"))
EOF
)
[ ${#dashboard[@]} -gt 0 ] || { echo "no dashboard queries in fleet.md" >&2; exit 1; }
echo
for query in "${dashboard[@]}"; do
    echo "> $query"
    if ! out=$(q -execute "$query" 2>&1) || [ -z "$out" ] || grep -q '^ERR' <<< "$out"; then
        echo "${out:-no result}" >&2
        status=1
        continue
    fi
    head -n 6 <<< "$out"
    [ "$(wc -l <<< "$out")" -gt 6 ] && echo "..."
done
echo
if [ $status -eq 0 ]; then
    echo "InfluxDB holds every reading the stations recorded; every dashboard query ran."
else
    echo "InfluxDB does not hold what the stations recorded, or a dashboard query failed." >&2
fi
exit $status
