#!/usr/bin/env bash
# Boots Debian's own kernel in QEMU (TCG) with this machine's file system as
# the guest's root (read-only, under a tmpfs overlay) and runs one script in it
# as root.
#   scripts/rig/vm.sh GUEST-SCRIPT [ARGS...]
# The repository is writable inside at the same path; the rest of the
# host's tree reads as on the host, writes there stay in the guest. The
# script's output streams back and its exit code becomes ours; a guest that
# never reports one is a failure (125), never a pass.
# Environment: VM_RIG_DIR (cache; default <repo>/build/rig), VM_TIMEOUT
# (seconds, default 600), VM_MEM (MiB, default 3072), VM_CPUS (default 2),
# VM_APPEND (kernel arguments instead of "quiet"), VM_KEEP=1 (keep the job
# folder with the guest's console log).
set -euo pipefail
export PATH=$PATH:/usr/sbin:/sbin  # depmod, modprobe
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 GUEST-SCRIPT [ARGS...]" >&2; exit 2; }
rig=${VM_RIG_DIR:-$repo/build/rig}
mkdir -p "$rig"
rig=$(cd "$rig" && pwd)
case $rig/ in "$repo"/*) ;; *) echo "vm.sh: VM_RIG_DIR must lie inside $repo (the guest writes its results there)" >&2; exit 2 ;; esac

kdir=$rig/kernel
if ! ls "$kdir"/boot/vmlinuz-* >/dev/null 2>&1; then
  # The version linux-image-amd64 stands for today; the .deb stays cached.
  kernel_pkg() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}'; }
  pkg=$(kernel_pkg)
  [ -n "$pkg" ] || { apt-get update -qq >&2 && pkg=$(kernel_pkg); }
  [ -n "$pkg" ] || { echo "vm.sh: cannot tell which kernel linux-image-amd64 depends on" >&2; exit 1; }
  (cd "$rig" && ls "$pkg"_*.deb >/dev/null 2>&1 || apt-get download "$pkg" 2>&1 | grep -v '^W: Download is performed unsandboxed' >&2 || true)
  deb=$(ls "$rig/$pkg"_*.deb 2>/dev/null | head -n1)
  [ -n "$deb" ] || { echo "vm.sh: could not download $pkg" >&2; exit 1; }
  rm -rf "$kdir.tmp" && dpkg-deb -x "$deb" "$kdir.tmp"
  kver=${pkg#linux-image-}
  depmod -b "$kdir.tmp" "$kver"
  mv "$kdir.tmp" "$kdir"
fi
vmlinuz=$(ls "$kdir"/boot/vmlinuz-* | head -n1)
kver=${vmlinuz##*/vmlinuz-}

# The initramfs only mounts the root and hands over; rebuilt when its inputs change.
initrd=$rig/initrd.cpio
if [ ! -s "$initrd" ] || [ "$here/vm-init.sh" -nt "$initrd" ] || [ "$vmlinuz" -nt "$initrd" ]; then
  stage=$(mktemp -d)
  mkdir -p "$stage"/{bin,mods,dev,proc,sys,newroot,lower,rw}
  cp /bin/busybox "$stage/bin/busybox"
  for m in virtio_pci 9pnet_virtio 9p overlay; do
    modprobe -d "$kdir" -S "$kver" --show-depends "$m" | awk '$1 == "insmod" {print $2}'
  done | awk '!seen[$0]++' | while read -r ko; do
    cp "$ko" "$stage/mods/"
    echo "${ko##*/}" >>"$stage/mods/order"
  done
  cp "$here/vm-init.sh" "$stage/init"
  chmod +x "$stage/init"
  (cd "$stage" && find . | cpio -o -H newc --quiet) >"$initrd.tmp"
  mv "$initrd.tmp" "$initrd"
  rm -rf "$stage"
fi

# One job folder per run, inside the writable share: the command, its
# output and its exit code.
job=$(mktemp -d "$rig/job.XXXXXX")
[ -n "${VM_KEEP:-}" ] || trap 'rm -rf "$job"' EXIT
{
  printf 'cd %q 2>/dev/null || cd %q\n' "$PWD" "$repo"
  printf 'exec'; printf ' %q' "$@"; printf '\n'
} >"$job/cmd"
: >"$job/out"

accel=tcg  # this machine's KVM cannot boot a stock kernel
timeout --foreground -k 5 "${VM_TIMEOUT:-600}" qemu-system-x86_64 \
  -accel "$accel" -m "${VM_MEM:-3072}" -smp "${VM_CPUS:-2}" \
  -display none -monitor none -serial "file:$job/console.log" -net none -no-reboot \
  -kernel "$vmlinuz" -initrd "$initrd" \
  -append "console=ttyS0 panic=-1 ${VM_APPEND:-quiet} vmrepo=$repo vmjob=$job vmkver=$kver vmmods=$kdir/lib/modules" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs local,path="$repo",mount_tag=repo,security_model=none,multidevs=remap \
  >"$job/qemu.log" 2>&1 &
qemu=$!
tail -n +1 -f --pid=$qemu "$job/out" 2>/dev/null &
tailer=$!
qrc=0
wait $qemu || qrc=$?
wait $tailer 2>/dev/null || true
if [ -s "$job/rc" ]; then
  exit "$(cat "$job/rc")"
fi
echo "vm.sh: the guest reported no exit code (qemu exit $qrc); console and QEMU output follow" >&2
tail -n 40 "$job/console.log" "$job/qemu.log" >&2 || true
exit 125
