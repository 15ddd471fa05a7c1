#!/usr/bin/env bash
# Makes a fresh root file system into a quiet desktop-like client: both resolver managers
# installed but off (each scenario turns on its own), a plain resolv.conf, one ordinary user,
# and none of the timers and services that would only slow a boot inside a container.
# Usage: customize_rootfs.sh ROOT USER
set -euo pipefail
root=${1:?root}
user=${2:?user}
systemctl --root="$root" disable NetworkManager.service systemd-resolved.service \
  NetworkManager-wait-online.service NetworkManager-dispatcher.service >/dev/null 2>&1 || true
systemctl --root="$root" mask apt-daily.timer apt-daily-upgrade.timer e2scrub_all.timer \
  fstrim.timer systemd-networkd-wait-online.service openvpn.service >/dev/null 2>&1 || true
rm -f "$root/etc/resolv.conf"
printf 'nameserver 203.0.113.1\n' > "$root/etc/resolv.conf"
echo orlune-client > "$root/etc/hostname"
chroot "$root" useradd --create-home --uid 1000 --shell /bin/bash --comment "Desktop user" "$user"
install -d -o 1000 -g 1000 -m 700 "$root/home/$user/.runtime"
# apt inside the machine installs the package from local files only: there is no route out.
printf 'Acquire::Retries "0";\nAPT::Install-Recommends "false";\n' > "$root/etc/apt/apt.conf.d/90orlune-system"
