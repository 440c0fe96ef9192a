#!/usr/bin/env bash
# Builds the programs (without tests and benchmarks) and makes the Debian package of them with CPack.
# Usage: package.sh [DIR [cmake options...]]  (default build-package); prints the .deb's path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-package}
[ $# -gt 0 ] && shift
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$dir" -DKIV_TESTS=OFF -DKIV_BENCH=OFF "$@"
cd "$root/$dir"
cpack -G DEB >/dev/null
deb=$(ls -t package/*.deb | head -1)
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Installed-Size\|Depends\):/\1:/p'
echo "$root/$dir/$deb"
