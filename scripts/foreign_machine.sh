#!/usr/bin/env bash
# Runs the built tests of BUILD again as on a machine unlike ours: more fonts installed (among them others
# that answer for "Arial"), a Turkish locale (dotted and dotless i) and a time zone far from UTC. Without
# root, the fonts come through a FONTCONFIG_FILE naming the system's font folders instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if $sudo -n true 2>/dev/null; then
  need=()
  for p in fonts-urw-base35 fonts-liberation fonts-dejavu locales; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
  done
  if [ ${#need[@]} -gt 0 ]; then
    echo "foreign_machine: installing ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  fi
  locale -a 2>/dev/null | grep -qi '^tr_TR\.utf-\?8$' || $sudo localedef -i tr_TR -f UTF-8 tr_TR.UTF-8 || true
else
  conf=$(mktemp --suffix=.conf)
  trap 'rm -f "$conf"' EXIT
  printf '<?xml version="1.0"?>\n<fontconfig><dir>/usr/share/fonts</dir><dir>~/.fonts</dir></fontconfig>\n' >"$conf"
  export FONTCONFIG_FILE="$conf"
fi
if locale -a 2>/dev/null | grep -qi '^tr_TR\.utf-\?8$'; then
  export LC_ALL=tr_TR.UTF-8
else
  echo "foreign_machine: no tr_TR.UTF-8 locale here; running in the current one"
fi
export TZ=Pacific/Chatham
"$root/scripts/run_ctest.sh" "$build"
