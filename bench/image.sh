#!/usr/bin/env bash
# A file system for the benchmark, on an image file of this machine's disk
# (needs root):
#   bench/image.sh up [ext4|xfs]    makes the image once (8 GiB unless told, written
#                                   through) and mounts it; prints the folder to give
#                                   as QUARVEL_BENCH_DIR. ext4 (the default) is
#                                   journaled; xfs has reflink, so copies share blocks
#   bench/image.sh down [ext4|xfs]  unmounts it and deletes the image
# The image is written whole first, so that no write of a run lands in a hole
# of the image file and makes the host allocate it, and it is attached with
# direct I/O, so that write-back from it goes to the disk at once instead of
# waiting in the host's page cache for the next flush. Its loop device carries
# nothing else, so its write counters (/sys/block/loopN/stat) count only what
# the benchmark writes: ext4's inode tables and journal are written by mkfs,
# not by a background thread after the mount.
# QUARVEL_BENCH_IMAGE: where the image goes (default /var/tmp/quarvel-bench.img,
# /var/tmp/quarvel-bench-xfs.img for xfs).
# QUARVEL_BENCH_IMAGE_GIB: its size when made (default 8, enough for N = 1000;
# N = 5000 needs about 16).
set -euo pipefail
fs=${2:-ext4}
case $fs in
  ext4) image=${QUARVEL_BENCH_IMAGE:-/var/tmp/quarvel-bench.img} ;;
  xfs) image=${QUARVEL_BENCH_IMAGE:-/var/tmp/quarvel-bench-xfs.img} ;;
  *) echo "usage: bench/image.sh up|down [ext4|xfs]" >&2; exit 2 ;;
esac
gib=${QUARVEL_BENCH_IMAGE_GIB:-8}
folder=${image%.img}.mnt

attached() { losetup -j "$image" -O NAME -n 2>/dev/null | head -n 1; }

case ${1:-} in
  up)
    if ! mountpoint -q "$folder"; then
      if [ ! -f "$image" ]; then
        echo "writing $image ($gib GiB)..." >&2
        dd if=/dev/zero of="$image.part" bs=16M count=$((gib * 64)) conv=fsync status=none
        case $fs in
          ext4) mkfs.ext4 -q -F -E nodiscard,lazy_itable_init=0,lazy_journal_init=0 "$image.part" ;;
          xfs) mkfs.xfs -q -f -K -m reflink=1 "$image.part" ;;
        esac
        mv "$image.part" "$image"
      fi
      device=$(attached)
      [ -n "$device" ] || device=$(losetup -f --show --direct-io=on "$image")
      mkdir -p "$folder"
      mount "$device" "$folder"
    fi
    echo "$folder"
    ;;
  down)
    if mountpoint -q "$folder"; then umount "$folder"; fi
    device=$(attached)
    if [ -n "$device" ]; then losetup -d "$device"; fi
    rm -f "$image" "$image.part"
    rmdir "$folder" 2>/dev/null || true
    ;;
  *)
    echo "usage: bench/image.sh up|down [ext4|xfs]" >&2
    exit 2
    ;;
esac
