#!/bin/bash
# PID 1 in the guest's final root: the guest kernel's modules in place,
# then the job's command; its output and exit code go to the job folder.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
mkdir -p /run /tmp /dev/pts /dev/shm "/lib/modules/$vmkver"
# /tmp stays the overlay's (writable, in memory): a tmpfs there would hide a
# repository that lives under /tmp, as a CI checkout may.
mount -t tmpfs run /run; chmod 1777 /tmp
mount -t devpts devpts /dev/pts; mount -t tmpfs shm /dev/shm
mount --bind "$vmmods/$vmkver" "/lib/modules/$vmkver"
hostname velkor-rig
rc=0
bash "$vmjob/cmd" >"$vmjob/out" 2>&1 </dev/null || rc=$?
sync
echo "$rc" >"$vmjob/rc"
sync
/bin/busybox poweroff -f
