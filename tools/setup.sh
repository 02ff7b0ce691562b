#!/usr/bin/env bash
# Installs the Debian packages listed in the given lists (default:
# tools/debian-packages.txt) that are not installed yet. Quick when
# everything is already there. Needs root (or sudo) only when something is
# missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -gt 0 ] || set -- "$here/debian-packages.txt"
missing=()
for list in "$@"; do
  while read -r pkg; do
    pkg=${pkg%%#*}; pkg=${pkg// /}
    [ -n "$pkg" ] || continue
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$pkg")
  done < "$list"
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "setup: installing ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
