#!/usr/bin/env bash
# What Debian's own tools say about the built package and what it puts on a system: lintian
# (errors, warnings and pedantic tags; each override in debian/ carries its reason), the desktop
# entry and the software-centre metadata as installed, the manual pages, and the completion.
# Usage: package_checks_test.sh PACKAGE-DIR   (where `make package` leaves the .deb)
set -uo pipefail
deb=$(ls "${1:?package directory}"/orlune-vpn_*.deb 2>/dev/null)
[ -f "$deb" ] || { echo "skipped: no package in $1 (make package)"; exit 77; }
. "$(dirname "$0")/../tests/lab/test/testlib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
dpkg-deb -x "$deb" "$root"

group "lintian"
if command -v lintian >/dev/null; then
  out=$(lintian --pedantic --display-info --fail-on error,warning,pedantic "$deb" 2>&1); status=$?
  printf '%s\n' "$out" | grep -v -e '^running with root privileges' | sed 's/^/# /'
  check_eq "no errors, warnings or pedantic tags" 0 "$status"
else
  echo "# skipped: no lintian (scripts/bootstrap package)"
fi

group "what the package installs"
for file in usr/share/applications/orlune-vpn.desktop usr/share/metainfo/com.orlune.vpn.metainfo.xml \
            usr/share/man/man1/orlune-vpn.1.gz usr/share/man/man8/orlune-vpn-service.8.gz \
            usr/share/bash-completion/completions/orlune-vpn usr/share/doc/orlune-vpn/copyright; do
  check "/$file" test -s "$root/$file"
done
check_match "the copyright file credits the Lucide icons" 'Files: app/ui/icons/lucide/\*' "$(cat "$root/usr/share/doc/orlune-vpn/copyright")"
check "desktop-file-validate" desktop-file-validate "$root/usr/share/applications/orlune-vpn.desktop"
# --no-net: the metainfo's screenshot and home page addresses are never fetched.
check "appstreamcli validate" appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/com.orlune.vpn.metainfo.xml"

group "completion: commands and options; country codes and relay ids only from the cache"
completion=$root/usr/share/bash-completion/completions/orlune-vpn
complete_words() { # words... (the last is the one being completed) -> the candidates
  XDG_CACHE_HOME=$work/cache bash -c '
    . /usr/share/bash-completion/bash_completion; . "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _orlune_vpn; printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" orlune-vpn "$@" | sort | xargs
}
if [ ! -f /usr/share/bash-completion/bash_completion ]; then
  echo "# skipped: no bash-completion"
else
  check_eq "connect without a cache offers nothing" "" "$(complete_words connect "")"
  mkdir -p "$work/cache/orlune-vpn"
  # The last line would run a command if the shell expanded it.
  printf 'JP\tvpn-jp-1\nJP\tvpn-jp-2\nKR\tvpn-kr-1\nKR\t$(touch %s)\n' "$work/expanded" > "$work/cache/orlune-vpn/completion"
  # "_" stands for the empty word being completed.
  while IFS='|' read -r words expected; do
    read -r -a list <<<"$words"
    [ "${list[-1]}" = _ ] && list[-1]=""
    check_eq "orlune-vpn $words" "$expected" "$(complete_words "${list[@]}")"
  done <<'CASES'
_|connect countries disconnect help history servers status
co|connect countries
--|--help --version
status --|--help --json
help s|servers status
servers _|JP KR
servers J|JP
connect _|JP KR vpn-jp-1 vpn-jp-2 vpn-kr-1
connect vpn-k|vpn-kr-1
connect JP _|
connect --json _|JP KR vpn-jp-1 vpn-jp-2 vpn-kr-1
servers --|--catalog --help --json
connect --catalog saved.csv _|JP KR vpn-jp-1 vpn-jp-2 vpn-kr-1
CASES
  check "a cached word with shell syntax is never expanded" test ! -e "$work/expanded"
fi
finish
