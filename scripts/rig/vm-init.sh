#!/bin/busybox sh
# The initramfs's init: mount the host's root read-only under a tmpfs
# overlay, the repository writable at its own path, and hand over to
# vm-stage2.sh in the new root.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for ko in $(cat /mods/order); do insmod "/mods/$ko" || echo "vm-init: insmod $ko failed"; done
for a in $(cat /proc/cmdline); do
  case $a in vmrepo=*|vmjob=*|vmkver=*|vmmods=*) export "$a" ;; esac
done
fail() { echo "vm-init: $*"; echo 125 >"/newroot$vmjob/rc" 2>/dev/null; poweroff -f; }
opts=trans=virtio,version=9p2000.L,msize=262144
mount -t 9p -o "$opts,ro,cache=loose" hostroot /lower || fail "cannot mount the host's root"
mount -t tmpfs -o size=2g rw /rw && mkdir -p /rw/upper /rw/work
mount -t overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work overlay /newroot ||
  fail "cannot mount the overlay"
mount -t 9p -o "$opts" repo "/newroot$vmrepo" || fail "cannot mount the repository"
mount --move /proc /newroot/proc
mount --move /sys /newroot/sys
mount --move /dev /newroot/dev
exec switch_root /newroot /bin/bash "$vmrepo/scripts/rig/vm-stage2.sh"
