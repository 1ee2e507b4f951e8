#!/bin/sh
# The main job: builds postrine, starts a capture SMTP server on loopback,
# sends one message through it with postrine and prints what the server
# received. Nothing leaves the machine.
set -eu
cd "$(dirname "$0")/.."
# Only what the demo needs: no test framework, cross compiler or wine.
scripts/install-deps.sh demo
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOSTRINE_TESTS=OFF >/dev/null
ninja -C build-demo postrine

demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
cp build-demo/postrine "$demo/postrine"

/usr/bin/python3 scripts/capture_server.py "$demo/port" 60 >"$demo/received" &
server=$!
i=0
while [ ! -s "$demo/port" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
port=$(cat "$demo/port")

printf '[Settings]\r\nServerName=127.0.0.1\r\nUserName=??\r\nPassword=??\r\nSender=demo@localhost\r\nPortNumber=%s\r\n' \
  "$port" >"$demo/postrine.ini"
printf 'Hello from postrine.\nThis message went to a capture server on 127.0.0.1:%s.\n' "$port" >"$demo/mail.txt"

echo "\$ postrine -s \"postrine demo\" mail.txt alice@example.com,bob@example.com"
status=0
(cd "$demo" && ./postrine -s "postrine demo" mail.txt alice@example.com,bob@example.com) || status=$?
echo "exit status: $status"
if [ $status -ne 0 ]; then kill $server 2>/dev/null || true; fi
wait $server || true
cat "$demo/received"
exit $status
