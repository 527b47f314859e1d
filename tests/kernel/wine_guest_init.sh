#!/bin/sh
# The Wine guest of the kernel test, in two stages.
#
# /init (busybox, in the initramfs): loads the drivers, mounts the host's root folder (9p,
# read-only) under a tmpfs overlay, adds the unpacked i386 Wine packages as a second lower
# layer when the host shares them, and runs the second stage in a chroot into that overlay.
# At the end /results goes to the host as a tar archive on /dev/vda.
#
# "steps" (the host's own shell, Wine and sg3-utils, in the chroot): runs the Windows
# programs under Wine against scsi_debug CD-ROM drives and QEMU's CD drives, keeping each
# step's output, exit status, duration and the kernel's SCSI log in /results. The host
# (wine_test.py) judges them. Settings: /etc/wine-test.conf, written by the host.

say() { echo "guest: $(cut -d" " -f1 /proc/uptime) $*" >/dev/ttyS0; }

now_ms() {
  read -r up _ </proc/uptime
  echo $((${up%.*} * 1000 + 1${up#*.} * 10 - 1000))
}

sr_count() {
  set -- /sys/block/sr*
  [ -e "$1" ] && echo $# || echo 0
}

count_is() { [ "$(sr_count)" = "$1" ]; }

wait_until() {
  limit=$(($(now_ms) + $1))
  shift
  until "$@"; do
    [ "$(now_ms)" -lt "$limit" ] || return 1
    sleep 0.1
  done
}

stage_init() {
  /bin/busybox --install -s /bin
  export PATH=/bin
  mount -t proc proc /proc
  mount -t sysfs sysfs /sys
  mount -t devtmpfs devtmpfs /dev
  . /etc/wine-test.conf
  say "loading modules"
  while read -r module; do
    insmod "$module" || say "insmod $module failed"
  done </etc/modules.order
  # Two scsi_debug CD-ROM drives posing as targets, and QEMU's two virtio-scsi CD drives.
  insmod "$SCSI_DEBUG" ptype=5 removable=1 num_tgts=2 max_luns=1 dev_size_mb=1 dsense=0 \
    inq_vendor="$SD_VENDOR" inq_product="\"$SD_PRODUCT\"" inq_rev="$SD_REV" ||
    say "insmod scsi_debug failed"
  wait_until 30000 count_is "$DRIVES" || say "only $(sr_count) CD drives"
  mkdir -p /lower /i386 /rw /newroot
  mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 hostroot /lower ||
    say "cannot mount the host's root"
  lower=/lower
  if [ -n "$I386_ROOT" ]; then
    mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 i386root /i386 ||
      say "cannot mount the i386 packages"
    lower=/i386:/lower
  fi
  mount -t tmpfs -o size=1200m tmpfs /rw
  mkdir /rw/upper /rw/work
  mount -t overlay overlay -o lowerdir=$lower,upperdir=/rw/upper,workdir=/rw/work /newroot ||
    say "overlay failed"
  mount -t proc proc /newroot/proc
  mount -t sysfs sysfs /newroot/sys
  mount -t devtmpfs devtmpfs /newroot/dev
  mount -t tmpfs tmpfs /newroot/tmp
  mount -t tmpfs tmpfs /newroot/run
  mkdir -p /newroot/results /newroot/etc
  cp /etc/wine-test.conf /newroot/etc/wine-test.conf
  echo "$(now_ms)" >/newroot/results/boot.ms
  say "chroot"
  chroot /newroot /bin/sh "$GUEST_SCRIPT" steps
  say "writing results"
  tar -cf /dev/vda -C /newroot/results . && sync
  say "done"
  poweroff -f
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
  say "$name: exit status $rc, $(cat "/results/$name.ms") ms"
  return 0
}

# The kernel's SCSI log of everything sent since the last call.
take_log() {
  dmesg -c >"/results/$1.log"
}

# winpath PATH: the Windows name of a path in the guest (Wine's Z: is /).
winpath() {
  echo "Z:$1" | tr / '\\'
}

# winrun ARCH ARGS...: the project's winrun.exe of ARCH (it reads full 32-bit exit codes).
winrun() {
  arch=$1
  shift
  timeout "$RUN_TIMEOUT" wine "$WORK/winrun-$arch.exe" "$@"
}

# Identity of every CD device as the kernel and sg_inq see it, with its drive letter.
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

# The sr names of the drives whose model begins with $1, in numeric order.
drives_of() {
  for b in /sys/block/sr*; do
    case $(cat "$b/device/model") in
      "$1"*) echo "${b#/sys/block/}" ;;
    esac
  done | sort -t r -k 2 -n
}

# Drive letters from D: on, one per CD drive in numeric order: D:: is the device, D: a
# folder on the overlay (Wine takes a tmpfs folder for a RAM disk).
map_letters() {
  set -- d e f g h
  for d in $(ls /sys/block | grep '^sr' | sort -t r -k 2 -n); do
    mkdir -p "/varnel/drives/$1"
    ln -sfn "/varnel/drives/$1" "$WINEPREFIX/dosdevices/$1:"
    ln -sfn "/dev/$d" "$WINEPREFIX/dosdevices/$1::"
    echo "$d $1"
    shift
  done
}

# updater_steps ARCH: the runs of one Windows build.
updater_steps() {
  a=$1
  record "${a}_drives" timeout "$RUN_TIMEOUT" wine "$WORK/varnel-pkg-$a.exe" drives --json
  take_log "${a}_drives"
  record "${a}_all" winrun "$a" run "$(winpath "$WORK/Q42R-$a.exe")" /s /all
  take_log "${a}_all"
  rm -f "$WINEPREFIX/drive_c/windows/qzfwup.txt"
  record "${a}_lw" winrun "$a" run "$(winpath "$WORK/Q42R-$a.exe")" /lw
  take_log "${a}_lw"
  cp "$WINEPREFIX/drive_c/windows/qzfwup.txt" "/results/${a}_lw.txt" 2>/dev/null
  # The drive without a medium refuses WRITE BUFFER; the dialog shows why.
  record "${a}_empty" winrun "$a" drive "$(winpath "$WORK/empty.steps")" \
    "$(winpath "$WORK/Q44R-$a.exe")" /au
  take_log "${a}_empty"
  # A disc in the drive: refused without /s; /s ejects it first.
  record "${a}_disc_before" sg_turs "/dev/$disc_drive"
  record "${a}_disc_refused" winrun "$a" run "$(winpath "$WORK/Q43R-$a.exe")" /au /ae
  take_log "${a}_disc_refused"
  record "${a}_disc_silent" winrun "$a" run "$(winpath "$WORK/Q43R-$a.exe")" /s
  take_log "${a}_disc_silent"
  record "${a}_disc_after" sg_turs -v "/dev/$disc_drive"
  sg_start --load "/dev/$disc_drive" >/dev/null 2>&1
  take_log "${a}_reload"
  # ASPI: Wine's own WNASPI32 executes no command; the transport choice shows what the
  # program makes of it.
  record "${a}_aspi_drives" env VARNEL_FORCE_ASPI=1 timeout "$RUN_TIMEOUT" \
    wine "$WORK/varnel-pkg-$a.exe" drives --json
  take_log "${a}_aspi_drives"
}

# aspi_run: the 32-bit updater through ASPI, with the project's WNASPI32.DLL beside it (taken
# before Wine's own) over the simulated drives of aspi.txt.
aspi_run() (
  export VARNEL_FORCE_ASPI=1 VARNEL_ASPI_DRIVES="$(winpath "$WORK/aspi-w32/aspi.txt")"
  export WINEDLLOVERRIDES="mscoree,mshtml=;wnaspi32=n"
  winrun w32 run "$(winpath "$WORK/aspi-w32/upd.exe")" /s /au /ae /all
)

# The 32-bit build's own tests, which the host cannot run: each unit test program once (from
# its own folder, as CTest does; the test data is read from the host's tree over 9p), and the
# ASPI transport against the project's WNASPI32.DLL.
w32_own_steps() {
  cd "$WORK/unit-w32" || return
  for t in $UNIT_TESTS; do
    eval "filter=\${UNIT_FILTER_$t:-*}"
    record "w32_unit_$t" timeout "$UNIT_TIMEOUT" wine "./test_$t.exe" "--gtest_filter=$filter"
    take_log "w32_unit_$t"
  done
  cd "$WORK" || return
  record w32_aspi_sim aspi_run
  take_log w32_aspi_sim
  cp "$WORK/aspi-w32/aspi.journal" "$WORK/aspi-w32/aspi.txt.state" /results/ 2>/dev/null
}

stage_steps() {
  export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
  . /etc/wine-test.conf
  export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
  # The programs run from guest memory (over 9p Wine read only part of a large program).
  mkdir -p /varnel
  cp -a "$HOST_WORK/." /varnel/
  WORK=/varnel
  cd /varnel || exit 1
  for d in $(drives_of "$SD_PRODUCT"); do sg_start --stop --immed "/dev/$d"; done
  disc_drive=$(drives_of "$DISC_MODEL")
  drives_of "$SD_PRODUCT" >/results/sd.drives
  echo "$disc_drive" >/results/disc.drives
  drives_of "$EMPTY_MODEL" >/results/empty.drives
  map_letters >/results/letters
  record devices describe_devices
  echo "$SCSI_LOG_LEVEL" >/proc/sys/dev/scsi/logging_level
  dmesg -c >/dev/null

  # The Linux build's sequences for the same package, the reference of the Windows runs.
  record linux_s timeout "$RUN_TIMEOUT" ./Q42R-linux /s
  take_log linux_s
  # (/s updates the first target: the reference of /lw.)
  record linux_all timeout "$RUN_TIMEOUT" ./Q42R-linux /s /all
  take_log linux_all

  # One Wine session for every run. Notepad keeps Wine's desktop open between the runs:
  # a desktop that closes when its last program ends and opens again for the next one
  # sometimes leaves that program without a graphics driver (its dialog is not created).
  record wine_start sh -c 'wineserver -p && { wine notepad >/dev/null 2>&1 & } && wine cmd /c exit'
  take_log wine_start
  for a in $ARCHES; do
    updater_steps "$a"
  done
  case " $ARCHES " in
    *" w32 "*) w32_own_steps ;;
  esac
  echo 0 >/proc/sys/dev/scsi/logging_level
  wineserver -k
  echo "$(now_ms)" >/results/total.ms
}

case $1 in
  steps) stage_steps ;;
  *) stage_init ;;
esac
