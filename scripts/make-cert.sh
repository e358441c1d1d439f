#!/usr/bin/env bash
# Makes the agent's certificate and key (server.crt, server.key) in DIR unless
# both exist. Every orvane.exe of a group is an agent and a viewer, so each gets
# the same pair beside it, copied by hand; the program never sends the key.
# Usage: scripts/make-cert.sh DIR [COMMON_NAME]
set -euo pipefail
dir="${1:?usage: make-cert.sh DIR [COMMON_NAME]}"
cn="${2:-Orvane agent}"
mkdir -p "$dir"
if [ -f "$dir/server.crt" ] && [ -f "$dir/server.key" ]; then
  exit 0
fi
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
  -keyout "$dir/server.key" -out "$dir/server.crt" -days 3650 -subj "/CN=$cn" 2>/dev/null
chmod 600 "$dir/server.key"
echo "Made $dir/server.crt and $dir/server.key"
