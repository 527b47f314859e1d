#!/bin/busybox sh
# /init of the kernel test guest (busybox). Loads the SCSI drivers, runs varnel and
# varnel-pkg against scsi_debug CD-ROM drives and QEMU's own CD drives, and keeps every
# step's output, exit status and duration in /results; at the end /results goes to the host
# as a tar archive on the disk /dev/vda. The host (kernel_test.py) judges the results.
# Settings written by the host: /etc/kernel-test.conf.

/bin/busybox --install -s /bin
export PATH=/bin HOME=/root
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
mkdir -p /results /root
. /etc/kernel-test.conf
sdebug_sys=/sys/bus/pseudo/drivers/scsi_debug
say() { echo "guest: $(cut -d" " -f1 /proc/uptime) $*" >/dev/ttyS0; }

now_ms() {
  read -r up _ </proc/uptime
  echo $((${up%.*} * 1000 + 1${up#*.} * 10 - 1000))
}

# record NAME CMD...: runs CMD; keeps its output, exit status and duration as NAME.*.
record() {
  name=$1
  shift
  t0=$(now_ms)
  "$@" >"/results/$name.out" 2>&1
  rc=$?
  echo "$rc" >"/results/$name.rc"
  echo $(($(now_ms) - t0)) >"/results/$name.ms"
  say "$name: exit status $rc"
  return 0
}

# as_user CMD...: CMD as the unprivileged user "tester" (member of the group cdrom; see
# chgrp_drives).
as_user() {
  su -s /bin/sh tester -c 'exec "$@"' sh "$@"
}

# The kernel's SCSI log of everything sent since the last call.
take_log() {
  dmesg -c >"/results/$1.log"
}

sr_count() {
  set -- /sys/block/sr*
  [ -e "$1" ] && echo $# || echo 0
}

# wait_until MS CMD...: polls CMD every 50 ms for at most MS milliseconds.
wait_until() {
  limit=$(($(now_ms) + $1))
  shift
  until "$@"; do
    [ "$(now_ms)" -lt "$limit" ] || return 1
    usleep 50000
  done
}

count_is() { [ "$(sr_count)" = "$1" ]; }

# Device nodes as udev would leave them: the group cdrom may read and write. Nodes of drives
# that appear later (scsi_debug loaded again) need another call.
chgrp_drives() {
  for d in /dev/sr* /dev/sg*; do chgrp cdrom "$d" && chmod 660 "$d"; done
}

# The sr names of the scsi_debug drives, in numeric order.
sdebug_drives() {
  for b in /sys/block/sr*; do
    case $(readlink -f "$b/device") in
      */pseudo_0/*) echo "${b#/sys/block/}" ;;
    esac
  done | sort -t r -k 2 -n
}

# load_sdebug N ARGS...: scsi_debug with N CD-ROM drives posing as targets; waits for them
# and stops every unit (at once: a stop without IMMED takes the driver a long delay), so
# that TEST UNIT READY reports no disc.
load_sdebug() {
  n=$1
  shift
  before=$(sr_count)
  insmod "$SCSI_DEBUG" ptype=5 removable=1 num_tgts="$n" max_luns=1 dev_size_mb=1 \
    inq_vendor="$SD_VENDOR" inq_product="\"$SD_PRODUCT\"" inq_rev="$SD_REV" "$@" ||
    say "insmod scsi_debug failed"
  wait_until 20000 count_is $((before + n)) || say "scsi_debug drives did not appear"
  for d in $(sdebug_drives); do sg_start --stop --immed "/dev/$d" || say "cannot stop $d"; done
}

unload_sdebug() {
  n=$(sdebug_drives | wc -l)
  before=$(sr_count)
  rmmod scsi_debug || say "rmmod scsi_debug failed"
  wait_until 20000 count_is $((before - n)) || say "scsi_debug drives did not go"
}

# The first WRITE BUFFER to drive $1 is in the kernel's SCSI log.
write_buffer_sent() {
  dmesg | grep -q "\[$1\] .*CDB: Write Buffer"
}

# update_interrupted NAME UPDATER DRIVE ACTION: starts an update of every target (UPDATE, then
# EXIT), runs ACTION once the first WRITE BUFFER has gone to DRIVE, and waits for the end.
# NAME.trigger_ms: from ACTION to the end of the program.
update_interrupted() {
  name=$1 updater=$2 drive=$3 action=$4
  t0=$(now_ms)
  (printf 'u\nx\n' | timeout "$RUN_TIMEOUT" "$updater" /all >"/results/$name.out" 2>&1
   echo $? >"/results/$name.rc") &
  job=$!
  if wait_until 30000 write_buffer_sent "$drive"; then
    t1=$(now_ms)
    eval "$action"
  else
    t1=$(now_ms)
    say "$name: no WRITE BUFFER reached $drive"
    echo "no WRITE BUFFER reached $drive" >"/results/$name.trigger"
  fi
  wait "$job"
  t2=$(now_ms)
  echo $((t2 - t0)) >"/results/$name.ms"
  echo $((t2 - t1)) >"/results/$name.trigger_ms"
  say "$name: exit status $(cat "/results/$name.rc")"
}

# Identity of every CD device as the kernel and sg_inq see it.
describe_devices() {
  for b in /sys/block/sr*; do
    d=${b#/sys/block/}
    echo "@device $d $(basename "$(readlink -f "$b/device")")"
    echo "@sysfs_vendor $(cat "$b/device/vendor")"
    echo "@sysfs_model $(cat "$b/device/model")"
    echo "@sysfs_rev $(cat "$b/device/rev")"
    sg_inq "/dev/$d"
  done
}

say "loading modules"
while read -r module; do
  insmod "$module" || say "insmod $module failed"
done </etc/modules.order
# The QEMU drives appear while their host drivers probe.
wait_until 20000 count_is "$QEMU_DRIVES" || say "QEMU's CD drives did not appear"
echo "$(now_ms)" >/results/boot.ms


cd /work || exit 1

# 1. The drive list against the kernel's INQUIRY data: two scsi_debug drives and QEMU's two.
load_sdebug 2 dsense=0
chgrp_drives
record drives_json varnel-pkg drives --json
record devices describe_devices
record as_user as_user id
echo "$SCSI_LOG_LEVEL" >/proc/sys/dev/scsi/logging_level

# 2. The unprivileged user: may list and open the drives (group cdrom), lacks CAP_SYS_RAWIO.
# The updater says so and sends no firmware command to any drive.
dmesg -c >/dev/null
record unpriv_drives as_user varnel-pkg drives
record unpriv_status as_user grep Cap /proc/self/status
unpriv_update() { printf 'u\nx\n' | as_user timeout "$RUN_TIMEOUT" "./$UPDATER_SD" /all; }
record unpriv unpriv_update
take_log unpriv
# Root of a user namespace (a container's root): CAP_SYS_RAWIO there is not the kernel's, so
# the check before the run passes and the kernel refuses WRITE BUFFER itself (EPERM).
userns_update() { printf 'u\nx\n' | unshare -r timeout "$RUN_TIMEOUT" "./$UPDATER_SD" /all; }
record userns userns_update
take_log userns

# 3. A full update into both scsi_debug drives at once; the kernel logs every command sent.
sdebug_drives >/results/update.drives
dmesg -c >/dev/null
record update sh -c "printf 'u\nx\n' | timeout $RUN_TIMEOUT ./$UPDATER_SD /all"
take_log update

# 3b. The same drives, silent with every target and a report for scripts: scsi_debug keeps
# its revision after a download, so each drive is "updated, effective after a restart".
dmesg -c >/dev/null
record report_run timeout "$RUN_TIMEOUT" "./$UPDATER_SD" /s /all /report=/results/report.json
take_log report_run

# 4. A disc in QEMU's virtio-scsi CD drive (a target): refused, and ejected with /s. QEMU's
# IDE CD drive holds a disc too but is no target.
for b in /sys/block/sr*; do
  case $(cat "$b/device/model") in
    "$QEMU_TARGET_MODEL"*) disc_drive=${b#/sys/block/} ;;
    "QEMU DVD-ROM"*) ide_drive=${b#/sys/block/} ;;
  esac
done
echo "$disc_drive $ide_drive" >/results/disc.drives
record disc_before sg_turs "/dev/$disc_drive"
record disc_refused sh -c "printf 'u\nx\n' | timeout $RUN_TIMEOUT ./$UPDATER_DISC /all"
take_log disc_refused
record disc_after_refusal sg_turs "/dev/$disc_drive"
record disc_silent timeout "$RUN_TIMEOUT" "./$UPDATER_DISC" /s
take_log disc_silent
record disc_after_silent sg_turs -v "/dev/$disc_drive"
record ide_after_silent sg_turs "/dev/$ide_drive"

# 5. The drive is deleted while its firmware goes out.
unload_sdebug
load_sdebug 1 dsense=0 delay="$SLOW_DELAY"
drive=$(sdebug_drives)
echo "$drive" >/results/removal.drives
dmesg -c >/dev/null
update_interrupted removal "./$UPDATER_BIG" "$drive" \
  'echo 1 >"/sys/block/$drive/device/delete"'
take_log removal

# 6. Sense data in fixed and in descriptor format: the driver answers every command after the
# first WRITE BUFFER with ABORTED COMMAND 0B/4B/03 (injected transport problem).
for dsense in 0 1; do
  unload_sdebug
  load_sdebug 1 dsense="$dsense" delay="$SLOW_DELAY"
  drive=$(sdebug_drives)
  record "sense_tur_$dsense" sg_turs -v "/dev/$drive"
  dmesg -c >/dev/null
  update_interrupted "sense_$dsense" "./$UPDATER_BIG" "$drive" \
    'echo 1 >$sdebug_sys/every_nth; echo 16 >$sdebug_sys/opts'
  echo 0 >$sdebug_sys/opts
  echo 0 >$sdebug_sys/every_nth
  take_log "sense_$dsense"
done
unload_sdebug

echo 0 >/proc/sys/dev/scsi/logging_level
echo "$(now_ms)" >/results/total.ms
say "writing results"
tar -cf /dev/vda -C /results . && sync
say "done"
poweroff -f
