#!/usr/bin/env bash
# Prints the package of a build, making it with scripts/package (debhelper) first when it is missing or older than the
# programs (tests running side by side take turns).
#   package.sh BUILD-DIR
#   package.sh --rebuild DEB OUT   the same package as a later version whose app differs (an
#                                  upgrade): the version gets a suffix and the app a trailing note
set -euo pipefail
if [ "${1:-}" = --rebuild ]; then
  deb=${2:?deb} out=${3:?output}
  tree=$(mktemp -d)
  trap 'rm -rf "$tree"' EXIT
  dpkg-deb -R "$deb" "$tree"
  sed -i 's/^Version: .*/&+rebuilt1/' "$tree/DEBIAN/control"
  # Bytes after the end of an ELF file change its hash and nothing else.
  printf '\nrebuilt\n' >> "$tree/usr/bin/orlune-vpn"
  ( cd "$tree" && find usr -type f -exec md5sum {} + > DEBIAN/md5sums )
  dpkg-deb --root-owner-group -b "$tree" "$out" >/dev/null
  echo "$out"
  exit 0
fi
build=${1:?build directory}
mkdir -p "$build/package"
exec 9>"$build/package/.lock"
flock 9
programs=$(find "$build/app" "$build/service" -maxdepth 2 -type f \( -name orlune-vpn -o -name orlune-vpn-service \) | wc -l)
[ "$programs" -eq 2 ] || { echo "package.sh: the programs are not built in $build" >&2; exit 1; }
# The programs, the unit and the maintainer scripts.
newest=$(find "$build/app" "$build/service" "$(dirname "$0")/../../packaging" -maxdepth 2 -type f \
  \( -name orlune-vpn -o -name orlune-vpn-service -o -name 'orlune-vpn.service' -o -name postinst -o -name postrm \
     -o -name write-client-manifest \) -printf '%T@\n' | sort -n | tail -1 | cut -d. -f1)
deb=$(ls "$build"/package/orlune-vpn_*.deb 2>/dev/null | head -1 || true)
if [ -z "$deb" ] || [ "$(stat -c %Y "$deb")" -lt "$newest" ]; then
  deb=$("$(dirname "$0")/../../scripts/package" "$build") || { echo "package.sh: the package build failed" >&2; exit 1; }
fi
echo "$deb"
