#!/usr/bin/env bash
# The tray's watchdog against a real systemd, as an unprivileged desktop user.
#
# systemd boots as the first process of new pid, mount, network, UTS, IPC and
# cgroup namespaces, on a root of its own: an overlay of / whose upper layer is
# a tmpfs, so nothing it writes reaches this machine (booted on the machine's
# own root, its tmpfiles step would empty the machine's /tmp). As in a
# container, /proc/sys and /proc/sysrq-trigger are read-only, /sys is a sysfs
# of its own, read-only and with no kernel file system mounted below it,
# /dev holds only a few device nodes of its own (no console, no virtual
# terminals: seat0 then makes every new session active), and the cgroup tree
# is a fresh one below ours, the one writable mount below /sys. The boot goes
# to a small target (dbus, logind); kernel-wide units are masked, among them
# the mounts of debugfs, tracefs, configfs and fusectl. On the machine itself
# the test makes only a scratch folder in /tmp and a cgroup below ours, and
# removes both.
#
# In it: scripts/install.sh installs the service, its unit and the polkit rule;
# a user with a local, active session runs Pallowen; the service is found
# stopped and started with one failed heart; a hung service (SIGSTOP) is
# stopped through systemd and started again, also when it ignores the stop
# (systemd kills it after the unit's TimeoutStopSec, within the tray's ten
# polls). pkcheck then shows what the rule grants and refuses. Last, a
# program started by a service the way the service starts an update installer
# outlives a stop of that service that it asks for itself.
#
# Usage: systemd_watchdog.sh <build program folder> <source tree> <process_scope_probe>
# Exit 77 (skipped) when this machine cannot boot systemd so.
set -uo pipefail

BIN=$(readlink -f "$1")
SRC=$(readlink -f "$2")
PROBE=$(readlink -f "$3")
TRAY_USER=plenwick-tray
UNIT=qelt.service

say() { echo "systemd-watchdog: $*"; }
skip() { echo "systemd-watchdog: SKIPPED: $*" >&2; exit 77; }

[ "$(id -u)" -eq 0 ] || skip "booting systemd in namespaces needs root"
for f in /lib/systemd/systemd /usr/lib/polkit-1/polkitd /usr/bin/pkcheck /usr/bin/dbus-daemon \
         /usr/bin/nsenter /usr/bin/unshare /usr/bin/setpriv /usr/sbin/useradd; do
  [ -x "$f" ] || skip "$f is missing (scripts/install-deps.sh installs systemd, dbus, polkitd)"
done
grep -qs pam_systemd /etc/pam.d/common-session || skip "pam_systemd is not in /etc/pam.d/common-session (libpam-systemd)"
[ -x "$BIN/Kelvorn" ] && [ -x "$BIN/Pallowen" ] || skip "no Kelvorn and Pallowen in $BIN"
[ -x "$PROBE" ] || skip "no process_scope_probe at $3"

# The cgroup v2 tree: the whole /sys/fs/cgroup, or its "unified" part.
cgmount=""
for m in /sys/fs/cgroup /sys/fs/cgroup/unified; do
  [ "$(stat -fc %T "$m" 2>/dev/null)" = cgroup2fs ] && { cgmount=$m; break; }
done
[ -n "$cgmount" ] || skip "no cgroup v2 hierarchy here"
cgself=$(sed -n 's/^0:://p' /proc/self/cgroup)
cgparent=$cgmount${cgself%/}

# Left over by a run that was killed: empty them and take them away.
remove_cgroup() {
  local cg=$1 i
  [ -d "$cg" ] || return 0
  [ -f "$cg/cgroup.kill" ] && echo 1 >"$cg/cgroup.kill" 2>/dev/null
  for i in $(seq 1 50); do
    find "$cg" -depth -type d -exec rmdir {} + 2>/dev/null
    [ -d "$cg" ] || return 0
    sleep 0.1
  done
  say "warning: cannot remove $cg"
}
# Each cgroup and scratch folder is named by the pid of its run; those of a
# run still going are kept.
for old in "$cgparent"/plenwick-systemd-*; do
  [ -d "$old" ] && ! kill -0 "${old##*-}" 2>/dev/null && remove_cgroup "$old"
done
for old in /tmp/plenwick-systemd-*.*; do
  owner=${old#/tmp/plenwick-systemd-}
  [ -d "$old" ] && ! kill -0 "${owner%%.*}" 2>/dev/null && rmdir "$old" 2>/dev/null
done

# All the test makes on this machine: one scratch folder in /tmp (the mount
# point of the tmpfs that holds the overlay, empty on this side) and one
# cgroup below ours, both removed at the end.
SCRATCH=$(mktemp -d "/tmp/plenwick-systemd-$$.XXXXXX")
CG=""
LAUNCHER=""
PID1=""

cleanup() {
  [ -n "$CG" ] && remove_cgroup "$CG"
  [ -n "$LAUNCHER" ] && kill -9 "$LAUNCHER" 2>/dev/null
  rmdir "$SCRATCH" 2>/dev/null || say "warning: $SCRATCH is not empty"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Whether an overlay of / on a tmpfs can be mounted here, tried in a mount
# namespace that ends at once.
unshare --mount --propagation private bash -c '
  mount -t tmpfs probe "$1" && mkdir "$1/u" "$1/w" "$1/m" &&
  mount -t overlay probe -o "lowerdir=/,upperdir=$1/u,workdir=$1/w" "$1/m"' probe "$SCRATCH" 2>/dev/null \
  || skip "an overlay of / on a tmpfs cannot be mounted here"

CG=$cgparent/plenwick-systemd-$$
mkdir "$CG" || { CG=""; skip "cannot make a cgroup under $cgparent"; }

# The first process of the namespaces: lays out the root, enters it, and
# becomes systemd. Runs with $1 = the scratch folder, $2 = the build's program
# folder, $3 = the source tree, $4 = the scope probe.
BOOT='
set -eu
S=$1
mount -t tmpfs -o mode=755 plenwick-systemd "$S"
mkdir "$S/upper" "$S/work" "$S/root"
mount -t overlay plenwick-systemd -o "lowerdir=/,upperdir=$S/upper,workdir=$S/work" "$S/root"
R=$S/root
mount -t proc proc "$R/proc"
for ro in sys sysrq-trigger; do
  [ -e "$R/proc/$ro" ] || continue
  mount --bind "$R/proc/$ro" "$R/proc/$ro"
  mount -o remount,bind,ro "$R/proc/$ro"
done
# A sysfs of its own, read-only and without the machine'"'"'s submounts
# (debugfs, tracefs, bpf, pstore, configfs, securityfs, efivarfs): made in
# the new network namespace, it is a new instance. Only the cgroup tree,
# below ours, is writable.
mount -t sysfs -o ro,nosuid,nodev,noexec sysfs "$R/sys"
mount -t cgroup2 cgroup2 "$R/sys/fs/cgroup"
mount -t tmpfs -o mode=755 dev "$R/dev"
# Nodes of our own: systemd changes the owner and mode of some, and a bind
# of the machine'"'"'s node would change the machine'"'"'s. No console.
for node in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
  IFS=: read -r n major minor <<<"$node"
  mknod -m 666 "$R/dev/$n" c "$major" "$minor"
done
mkdir "$R/dev/pts" "$R/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$R/dev/pts"
ln -s pts/ptmx "$R/dev/ptmx"
mount -t tmpfs -o mode=1777 shm "$R/dev/shm"
mount -t tmpfs -o mode=755 run "$R/run"
mount -t tmpfs -o mode=1777 tmp "$R/tmp"
# The build and the sources, wherever they lie, read-only.
mkdir -p "$R/opt/plenwick-test/bin" "$R/opt/plenwick-test/src"
mount --bind "$2" "$R/opt/plenwick-test/bin"
mount -o remount,bind,ro "$R/opt/plenwick-test/bin"
mount --bind "$3" "$R/opt/plenwick-test/src"
mount -o remount,bind,ro "$R/opt/plenwick-test/src"
touch "$R/opt/plenwick-test/scope-probe"
mount --bind "$4" "$R/opt/plenwick-test/scope-probe"
cd "$R"
mkdir .oldroot
pivot_root . .oldroot
cd /
umount -l /.oldroot
rmdir /.oldroot

mkdir -p /etc/systemd/system
for u in systemd-modules-load.service systemd-sysctl.service systemd-binfmt.service \
         proc-sys-fs-binfmt_misc.automount systemd-udevd.service systemd-udev-trigger.service \
         systemd-timesyncd.service systemd-hwdb-update.service systemd-random-seed.service \
         console-getty.service getty@.service serial-getty@.service \
         sys-kernel-debug.mount sys-kernel-tracing.mount sys-kernel-config.mount \
         sys-fs-fuse-connections.mount; do
  ln -sf /dev/null "/etc/systemd/system/$u"
done
cat >/etc/systemd/system/plenwick-test.target <<UNIT
[Unit]
Description=Plenwick test system
Requires=dbus.socket systemd-logind.service
Wants=systemd-user-sessions.service
After=dbus.socket systemd-logind.service systemd-user-sessions.service
UNIT
exec env -i container=plenwick-test /lib/systemd/systemd --system --unit=plenwick-test.target \
  </dev/null >/var/log/plenwick-boot.log 2>&1
'

# setpriv: the namespaces die with this script, even when it is killed.
( echo "$BASHPID" >"$CG/cgroup.procs" &&
  exec setpriv --pdeathsig KILL unshare --mount --pid --net --uts --ipc --cgroup --fork \
    --propagation private --kill-child=SIGKILL bash -c "$BOOT" boot "$SCRATCH" "$BIN" "$SRC" "$PROBE" ) &
LAUNCHER=$!
disown  # its end, by the kill in cleanup, is no news

in_ns() { nsenter --target "$PID1" --mount --uts --ipc --net --pid --cgroup "$@"; }

dump() {
  [ -n "$PID1" ] || return
  echo "---- boot output" >&2
  in_ns cat /var/log/plenwick-boot.log 2>/dev/null | tail -n 20 >&2
  echo "---- journal (last lines)" >&2
  in_ns journalctl --no-pager -n 60 >&2
  for f in $(in_ns sh -c 'ls /opt/plenwick/_Log/*/*.log' 2>/dev/null); do
    echo "---- $f (last lines)" >&2
    in_ns tail -n 20 "$f" >&2
  done
}
fail() { echo "systemd-watchdog: FAIL: $*" >&2; dump; exit 1; }

# wait_for <tenths of a second> <command...>
wait_for() {
  local n=$1 i
  shift
  for ((i = 0; i < n; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

for i in $(seq 1 50); do
  PID1=$(cut -d' ' -f1 "/proc/$LAUNCHER/task/$LAUNCHER/children" 2>/dev/null)
  [ -n "$PID1" ] && break
  sleep 0.1
done
[ -n "$PID1" ] || fail "the namespaces did not start"

booted() {
  local s
  s=$(in_ns systemctl is-system-running 2>/dev/null)
  [ "$s" = running ] || [ "$s" = degraded ]
}
start=$SECONDS
until booted; do
  kill -0 "$PID1" 2>/dev/null || skip "the namespaces ended while booting (their output is above)"
  [ $((SECONDS - start)) -lt 60 ] ||
    skip "systemd did not boot within 60 s here: $(in_ns systemctl is-system-running 2>&1)"
  sleep 0.2
done
say "systemd booted in $((SECONDS - start)) s"

# ---- nothing below /sys is writable for the booted systemd but its cgroup
# tree: every other mount there is read-only, and opening a file for writing
# (no byte is written) is refused as such, in sysfs and where the machine
# has its kernel file systems.
mounts=$(in_ns findmnt -rn -R -o TARGET,FSTYPE,OPTIONS /sys)
[[ "$mounts" == "/sys sysfs "* ]] || fail "no sysfs on /sys in the booted system: $mounts"
while read -r target fstype options; do
  [ "$target" = /sys/fs/cgroup ] && [ "$fstype" = cgroup2 ] && continue
  [[ ",$options," == *,ro,* ]] || fail "$target ($fstype) is writable in the booted system: $options"
done <<<"$mounts"
# cannot_write <path> <error>: opening the path for writing fails with the error.
cannot_write() {
  local err
  if err=$(in_ns sh -c ': >>"$1"' sh "$1" 2>&1); then
    in_ns sh -c '[ -f "$1" ] && [ ! -s "$1" ] && rm -f "$1"' sh "$1" 2>/dev/null
    fail "$1 could be opened for writing in the booted system"
  fi
  [[ "$err" == *"$2"* ]] || fail "opening $1 for writing: $err (expected: $2)"
}
cannot_write /sys/class/net/lo/mtu "Read-only file system"
# Where the machine mounts its kernel file systems: a mount is read-only, an
# empty mount point takes no file.
for d in /sys/kernel/debug /sys/kernel/tracing /sys/kernel/config /sys/kernel/security \
         /sys/fs/bpf /sys/fs/pstore /sys/fs/fuse/connections /sys/firmware/efi/efivars; do
  if in_ns mountpoint -q "$d"; then
    cannot_write "$d/plenwick-write-probe" "Read-only file system"
  elif in_ns test -d "$d"; then
    cannot_write "$d/plenwick-write-probe" ""
  fi
done
say "/sys is read-only in the booted system but for its cgroup tree"

# ---- installation, as an administrator would run it.
out=$(in_ns bash -c '
  set -e
  mkdir -p /var/tmp/plenwick-src/build
  cp -a /opt/plenwick-test/src/scripts /opt/plenwick-test/src/resources /var/tmp/plenwick-src/
  ln -s /opt/plenwick-test/bin /var/tmp/plenwick-src/build/bin
  bash /var/tmp/plenwick-src/scripts/install.sh --no-trust' 2>&1) || { echo "$out" >&2; fail "install.sh failed"; }
rule=/etc/polkit-1/rules.d/60-plenwick-qelt.rules
[ "$(in_ns stat -c %a "$rule" 2>/dev/null)" = 644 ] || fail "install.sh left no readable $rule"
[ "$(in_ns systemctl is-active $UNIT)" = active ] || fail "install.sh did not start $UNIT"
# --root lays the rule out too, --no-systemd does not.
in_ns bash /var/tmp/plenwick-src/scripts/install.sh --root /var/tmp/r1 --no-trust >/dev/null 2>&1 \
  && in_ns test -f /var/tmp/r1$rule || fail "install.sh --root wrote no polkit rule"
in_ns bash /var/tmp/plenwick-src/scripts/install.sh --root /var/tmp/r2 --no-systemd --no-trust >/dev/null 2>&1 \
  && ! in_ns test -e /var/tmp/r2$rule || fail "install.sh --no-systemd wrote a polkit rule"

in_ns systemctl stop $UNIT || fail "cannot stop $UNIT"
in_ns useradd -m "$TRAY_USER" || fail "useradd failed"

# A process of the user in a logind session; $1 the unit's name, then
# systemd-run options, then the command.
SESSION_ENV=(-p PAMName=login -E XDG_SESSION_TYPE=tty -E XDG_SESSION_CLASS=user)
run_as() {
  local user=$1 unit=$2
  shift 2
  in_ns systemd-run --quiet --unit="$unit" --uid="$user" "$@" >/dev/null \
    || fail "systemd-run $unit failed"
}
run_as_user() { run_as "$TRAY_USER" "$@"; }
main_pid() { in_ns systemctl show -p MainPID --value "$1"; }
has_main_pid() { local p; p=$(main_pid "$1"); [ -n "$p" ] && [ "$p" -gt 0 ]; }
session_of() {
  in_ns loginctl show-session --no-pager -p Seat -p Active -p Remote \
    "$(in_ns sed -n 's|^0::.*/session-\([^/]*\)\.scope$|\1|p' "/proc/$1/cgroup")" 2>/dev/null | tr '\n' ' '
}
status_answers() {
  [ "$(in_ns curl -sS --max-time 3 --cacert /opt/plenwick/server/root.crt \
        'https://127.0.0.1:18086/v1/print/status?callback=cb' 2>/dev/null)" = "cb('1.5')" ]
}
service_runs_other_than() {
  local pid
  [ "$(in_ns systemctl is-active $UNIT)" = active ] || return 1
  pid=$(main_pid $UNIT)
  [ -n "$pid" ] && [ "$pid" != 0 ] && [ "$pid" != "$1" ]
}
no_user_kelvorn() { ! in_ns pgrep -u "$TRAY_USER" -x Kelvorn >/dev/null; }
failed_hearts() { in_ns sh -c 'cat /opt/plenwick/_Log/Tray/*.log 2>/dev/null' | grep -c "端口上报异常"; }

# ---- the user's tray finds the service stopped and starts it.
run_as_user plenwick-tray-session "${SESSION_ENV[@]}" -E XDG_SEAT=seat0 -E QT_QPA_PLATFORM=offscreen \
  /opt/plenwick/Pallowen
wait_for 50 has_main_pid plenwick-tray-session || fail "the tray did not start"
TRAY=$(main_pid plenwick-tray-session)
tray_local_active() { [[ "$(session_of "$TRAY")" == *"Seat=seat0 "*"Active=yes "* ]]; }
wait_for 50 tray_local_active || fail "the tray's session is not local and active: $(session_of "$TRAY")"
wait_for 200 service_runs_other_than 0 || fail "the tray did not start $UNIT"
wait_for 50 status_answers || fail "the service started by the tray does not answer"
no_user_kelvorn || fail "the tray ran Kelvorn -APP_MODE instead of starting the service"
[ "$(failed_hearts)" = 1 ] || fail "expected one failed heart, the tray logged $(failed_hearts)"
say "the tray started the stopped service after one failed heart"

# ---- a hung service is stopped through systemd and started again.
HUNG=$(main_pid $UNIT)
in_ns kill -STOP "$HUNG"
start=$SECONDS
wait_for 400 service_runs_other_than "$HUNG" || fail "the hung service was not replaced within 40 s"
wait_for 50 status_answers || fail "the replaced service does not answer"
! in_ns kill -0 "$HUNG" 2>/dev/null || fail "the hung Kelvorn still exists"
no_user_kelvorn || fail "the tray ran Kelvorn -APP_MODE instead of restarting the service"
# The test's own stop above, then the tray's.
[ "$(in_ns journalctl --no-pager -u $UNIT | grep -c "Stopped qelt")" -ge 2 ] || fail "systemd did not stop $UNIT"
say "the hung service was stopped and started again in $((SECONDS - start)) s"

# ---- one that ignores the stop as well: systemd kills it after the unit's
# TimeoutStopSec, while the tray still polls, and the tray starts it again.
in_ns sh -c 'mkdir -p /run/systemd/system/qelt.service.d &&
  printf "[Service]\nKillSignal=SIGWINCH\n" >/run/systemd/system/qelt.service.d/deaf.conf &&
  systemctl daemon-reload' || fail "cannot make the service ignore its stop"
wait_for 50 status_answers || fail "the service does not answer before the second hang"
HUNG=$(main_pid $UNIT)
in_ns kill -STOP "$HUNG"
start=$SECONDS
wait_for 600 service_runs_other_than "$HUNG" || fail "the deaf service was not replaced within 60 s"
wait_for 50 status_answers || fail "the service started after the kill does not answer"
in_ns journalctl --no-pager -u $UNIT | grep -q "timed out. Killing" \
  || fail "the deaf service was not killed by systemd's stop time-out"
no_user_kelvorn || fail "the tray ran Kelvorn -APP_MODE after the stop time-out"
say "the service that ignored its stop was killed by systemd and started again in $((SECONDS - start)) s"

# ---- what the rule grants: pkcheck as the service manager asks.
# expect <yes|no> <pid> <action> [unit verb]
expect() {
  local want=$1 pid=$2 action=$3 rc
  shift 3
  local details=()
  [ $# -eq 2 ] && details=(--detail unit "$1" --detail verb "$2")
  in_ns pkcheck --action-id "$action" --process "$pid" "${details[@]}" >/dev/null 2>&1
  rc=$?
  case "$want:$rc" in
    yes:0) ;;
    no:1 | no:2 | no:3) ;;
    *) fail "pkcheck $action $* for $pid ($(session_of "$pid")): $rc, expected $want" ;;
  esac
}
MANAGE=org.freedesktop.systemd1.manage-units
for verb in start stop restart; do expect yes "$TRAY" $MANAGE $UNIT $verb; done
for verb in reload reload-or-restart try-restart; do expect no "$TRAY" $MANAGE $UNIT $verb; done
expect no "$TRAY" $MANAGE dbus.service start
expect no "$TRAY" $MANAGE systemd-logind.service stop
expect no "$TRAY" org.freedesktop.systemd1.manage-unit-files
# A session without a seat (as over ssh) and a process outside any session.
run_as_user plenwick-remote "${SESSION_ENV[@]}" sleep infinity
run_as_user plenwick-nosession sleep infinity
wait_for 50 has_main_pid plenwick-remote || fail "no seatless session"
expect no "$(main_pid plenwick-remote)" $MANAGE $UNIT start
expect no "$(main_pid plenwick-nosession)" $MANAGE $UNIT start
# A session without a seat counts as active: it goes first.
in_ns systemctl stop plenwick-remote plenwick-nosession
tray_inactive() {
  [[ "$(session_of "$TRAY")" == *"Active=no "* ]] &&
    [ "$(in_ns loginctl show-user --no-pager -p State --value "$TRAY_USER")" != active ]
}
# Another user's session on the seat takes it over: the tray's user has no
# active session left (polkit counts a user active when any of the user's
# sessions is).
in_ns useradd -m plenwick-other || fail "useradd failed"
run_as plenwick-other plenwick-second "${SESSION_ENV[@]}" -E XDG_SEAT=seat0 sleep infinity
wait_for 50 has_main_pid plenwick-second || fail "no second session"
wait_for 50 tray_inactive || fail "the tray's session stayed active"
expect no "$TRAY" $MANAGE $UNIT start
expect yes "$(main_pid plenwick-second)" $MANAGE $UNIT stop
say "the polkit rule grants start, stop and restart of $UNIT to local, active sessions only"

# ---- an installer outlives the stop of the service that started it, which
# it asks for itself; the service still stops. The probe runs as <unit>
# and counts <own> as its unit: in its own unit it moves the child into a
# scope, under any other name it starts it plainly (the control case, where
# the stop kills the child before it writes its marker).
# probe_stop <unit> <own> <marker>
probe_stop() {
  local unit=$1 own=$2 marker=$3
  in_ns systemd-run --quiet --unit="$unit" --property=Type=exec /opt/plenwick-test/scope-probe \
    "$own" /bin/sh -c "systemctl stop $unit; echo stopped >$marker" >/dev/null \
    || fail "systemd-run $unit failed"
  unit_stopped() {
    case "$(in_ns systemctl show -p ActiveState --value "$unit")" in inactive | failed) ;; *) false ;; esac
  }
  wait_for 100 unit_stopped || fail "$unit was not stopped"
}
scope_gone() { [ -z "$(in_ns systemctl list-units --no-legend --all 'plenwick-probe-*')" ]; }
marker_written() { in_ns test -s "$1"; }
start=$SECONDS
probe_stop plenwick-outliving.service plenwick-outliving.service /run/plenwick-outliving.mark
wait_for 100 marker_written /run/plenwick-outliving.mark \
  || fail "the child did not outlive the stop of its service"
in_ns journalctl --no-pager -o cat -u plenwick-outliving.service | grep -q "^start 0 pid [0-9]* scope 0$" \
  || fail "the probe did not move its child into a scope"
in_ns pgrep -f /opt/plenwick-test/scope-probe >/dev/null && fail "the stopped probe still runs"
wait_for 50 scope_gone || fail "the child's scope stayed after it ended"
probe_stop plenwick-plain.service none.service /run/plenwick-plain.mark
sleep 0.5
! marker_written /run/plenwick-plain.mark || fail "control: a plainly started child outlived the stop"
say "a child moved into a scope outlives the stop of its service, which it asked for ($((SECONDS - start)) s)"
say "PASS"
