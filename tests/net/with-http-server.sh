#!/usr/bin/env bash
# Runs a command with the test HTTP server listening on 127.0.0.1.
# Exports SKIN_TEST_HTTP_PORT and SKIN_TEST_HTTP_ROOT (a Windows path of the
# folder it serves), and, where openssl can make a self-signed certificate
# (one no client trusts), SKIN_TEST_HTTPS_PORT for the same routes over
# HTTPS; the server and the folder go away when the command ends.
#   with-http-server.sh command [args...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(mktemp -d /tmp/skin-http.XXXXXX)
server_pid=
command_pid=
cleanup() {
  if [[ -n "$command_pid" ]]; then kill "$command_pid" 2>/dev/null || true; fi
  if [[ -n "$server_pid" ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 143' TERM HUP INT

mkdir "$root/www"
tls=()
if command -v openssl >/dev/null &&
   openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
     -keyout "$root/key.pem" -out "$root/cert.pem" >/dev/null 2>&1; then
  tls=("$root/cert.pem" "$root/key.pem")
fi
python3 "$here/http_server.py" "$root/www" "$root/port" ${tls[@]+"${tls[@]}"} &
server_pid=$!
for _ in $(seq 1 100); do
  [[ -s "$root/port" ]] && break
  kill -0 "$server_pid" 2>/dev/null || { echo "test HTTP server did not start" >&2; exit 1; }
  sleep 0.1
done
[[ -s "$root/port" ]] || { echo "test HTTP server did not report its port" >&2; exit 1; }

export SKIN_TEST_HTTP_PORT=$(cat "$root/port")
if [[ -s "$root/port.tls" ]]; then export SKIN_TEST_HTTPS_PORT=$(cat "$root/port.tls"); fi
export SKIN_TEST_HTTP_ROOT="Z:${root//\//\\}\\www\\"
# WinINet would honour a proxy from the environment; everything stays local.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost
# In the background, so that a signal to this script is acted on at once.
"$@" &
command_pid=$!
wait "$command_pid"
