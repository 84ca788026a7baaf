#!/usr/bin/env bash
# A CUPS server of a test's own. Its configuration, Unix socket, spool, state,
# cache and logs all live below one folder the test chose, and its queues
# write the PDF they receive into <folder>/out/<queue>.pdf (a file: device
# with a printer description that passes PDF through, so the file holds
# exactly the document the program sent). Programs reach it through
# CUPS_SERVER=<folder>/cups.sock; the machine's cupsd, its queues, its default
# printer and its jobs are never asked nor touched.
#
#   private-cupsd.sh start <folder> [owner pid]
#       Makes the folder's tree, starts cupsd and waits until it answers.
#       Prints "CUPS_SERVER=<socket>" and "CUPSD_PID=<pid>". With an owner,
#       cupsd also ends when that process ends without stopping it (a test
#       killed on a time-out).
#   private-cupsd.sh queue <folder> <name> [lpadmin options...]
#       Adds an enabled queue writing <folder>/out/<name>.pdf; extra options
#       (for example -D "description") go to lpadmin.
#   private-cupsd.sh default <folder> <name>
#       Makes the queue the server's default printer.
#   private-cupsd.sh wait <folder> <count> [seconds]
#       Waits until at least <count> jobs are completed and none is pending.
#   private-cupsd.sh stop <folder>
#       Ends the cupsd started for the folder (by its pid), nothing else.
#
# Other commands of the server run with CUPS_SERVER=<folder>/cups.sock,
# CUPS_SERVERROOT=<folder>/conf and HOME=<folder>/home (lpstat, cupsdisable,
# ...): libcups reads ~/.cups/lpoptions and ~/.cups/client.conf whatever
# CUPS_SERVERROOT says, so a default printer of the caller's would leak in.
# Exit status: 0 done, 1 failure, 77 cupsd is not installed.
set -euo pipefail

SELF_DIR=$(cd "$(dirname "$0")" && pwd)
PPD=$SELF_DIR/pdf-writer.ppd

fail() { echo "private-cupsd: $*" >&2; exit 1; }

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || fail "usage: $0 start|queue|default|wait|stop <folder> ..."
shift 2
if [ "$cmd" = start ]; then
  mkdir -p "$dir"
elif [ ! -d "$dir" ]; then
  [ "$cmd" = stop ] && exit 0
  fail "no server folder $dir"
fi
dir=$(cd "$dir" && pwd)
sock=$dir/cups.sock
export CUPS_SERVER=$sock
# The client's own settings (client.conf, lpoptions) come from the folder too,
# the personal ones (~/.cups) from an empty home there.
export CUPS_SERVERROOT=$dir/conf HOME=$dir/home
unset LPDEST PRINTER

running() { lpstat -r 2>/dev/null | grep -q "is running"; }

# How cupsd runs: as root it hands filters to the "lp" user; as anyone else
# it runs them as itself. Root of a user namespace (tests/support/isolated.sh
# run by a normal user) cannot switch to "lp", so there cupsd runs as
# "nobody" of a namespace of its own, which maps back onto the caller.
cupsd_mode() {
  if [ "$(id -u)" -ne 0 ]; then
    echo user
  elif [ "$(awk 'NR == 1 { print $1, $2, $3 }' /proc/self/uid_map)" = "0 0 4294967295" ]; then
    echo root
  else
    echo namespace
  fi
}

# Whether pid is the cupsd of this folder (a pid of a process that has
# ended may since name another).
ours() { grep -qF "$dir/conf/cupsd.conf" "/proc/$1/cmdline" 2>/dev/null; }

stop() {
  [ -f "$dir/cupsd.pid" ] || return 0
  local pid
  pid=$(cat "$dir/cupsd.pid")
  rm -f "$dir/cupsd.pid"
  [ -n "$pid" ] && ours "$pid" || return 0
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 1 100); do
    ours "$pid" || return 0
    sleep 0.05
  done
  kill -9 "$pid" 2>/dev/null || true
}

start() {
  local cupsd
  cupsd=$(command -v cupsd || true)
  [ -n "$cupsd" ] || cupsd=/usr/sbin/cupsd
  [ -x "$cupsd" ] || { echo "private-cupsd: cupsd is not installed" >&2; exit 77; }
  [ ${#sock} -lt 100 ] || fail "folder path too long for a Unix socket: $dir"
  # A pid file whose cupsd has ended (killed by the watcher below, or with
  # the machine) is stale.
  if [ -f "$dir/cupsd.pid" ]; then
    ! ours "$(cat "$dir/cupsd.pid")" || fail "a cupsd already runs for $dir"
    rm -f "$dir/cupsd.pid"
  fi
  mkdir -p "$dir"/{conf/ppd,conf/ssl,spool/tmp,state,cache,log,out,home}
  local mode user group system
  local -a run=()
  mode=$(cupsd_mode)
  case $mode in
    root)
      user=lp; group=lp; system=root
      # Filters run as lp: they must reach the spool through the folder.
      chmod 0755 "$dir"
      local up=$dir
      while up=$(dirname "$up") && [ "$up" != / ]; do
        [ "$(( 0$(stat -c %a "$up") & 01 ))" -ne 0 ] \
          || fail "the CUPS filters (user lp) cannot pass through $up"
      done ;;
    user)
      user=$(id -un); group=$(id -gn); system=$group ;;
    namespace)
      user=$(getent passwd 65534 | cut -d: -f1)
      group=$(getent group 65534 | cut -d: -f1)
      system=$group
      run=(unshare --user --map-user=65534 --map-group=65534) ;;
  esac
  cat > "$dir/conf/cups-files.conf" <<CONF
ServerRoot $dir/conf
ServerKeychain $dir/conf/ssl
RequestRoot $dir/spool
TempDir $dir/spool/tmp
StateDir $dir/state
CacheDir $dir/cache
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
Printcap $dir/state/printcap
User $user
Group $group
SystemGroup $system
FileDevice Yes
CONF
  cat > "$dir/conf/cupsd.conf" <<CONF
LogLevel info
Listen $sock
Browsing No
WebInterface No
DefaultAuthType None
PreserveJobHistory Yes
PreserveJobFiles No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
    Allow all
  </Limit>
</Policy>
CONF
  : > "$dir/conf/client.conf"
  # Its own session, so the pid is cupsd itself and no signal meant for the
  # caller reaches it. No system bus (cupsd announces printers and jobs
  # there) and not the caller's service manager.
  env -u NOTIFY_SOCKET -u LISTEN_FDS -u LISTEN_PID \
    DBUS_SYSTEM_BUS_ADDRESS="unix:path=$dir/no-system-bus" \
    setsid "${run[@]}" "$cupsd" -f -c "$dir/conf/cupsd.conf" -s "$dir/conf/cups-files.conf" \
    </dev/null >"$dir/log/cupsd.out" 2>&1 &
  local pid=$!
  echo "$pid" > "$dir/cupsd.pid"
  for _ in $(seq 1 200); do
    [ -S "$sock" ] && running && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if ! running; then
    stop
    cat "$dir/log/cupsd.out" "$dir/log/error_log" >&2 2>/dev/null || true
    fail "cupsd did not start"
  fi
  local owner=${1:-}
  if [ -n "$owner" ]; then
    export -f ours
    DIR=$dir setsid bash -c 'dir=$DIR
      while kill -0 "$1" 2>/dev/null && ours "$2"; do sleep 1; done
      ours "$2" && kill "$2"
      [ "$(cat "$dir/cupsd.pid" 2>/dev/null)" = "$2" ] && rm -f "$dir/cupsd.pid"' \
      watch "$owner" "$pid" </dev/null >/dev/null 2>&1 &
  fi
  echo "CUPS_SERVER=$sock"
  echo "CUPSD_PID=$pid"
}

queue() {
  local name=${1:?queue name} err
  shift
  # lpadmin warns that printer descriptions are deprecated; only failures count.
  err=$(lpadmin -p "$name" -E -v "file://$dir/out/$name.pdf" -P "$PPD" "$@" 2>&1) \
    || fail "lpadmin failed for $name: $err"
}

wait_jobs() {
  local want=${1:?count} seconds=${2:-60} completed
  for _ in $(seq 1 $((seconds * 10))); do
    completed=$(lpstat -W completed -o 2>/dev/null | wc -l)
    if [ "$completed" -ge "$want" ] && [ -z "$(lpstat -o 2>/dev/null)" ]; then
      return 0
    fi
    sleep 0.1
  done
  fail "$want jobs did not complete in ${seconds}s (completed: $completed)"
}

case $cmd in
  start) start "$@" ;;
  queue) queue "$@" ;;
  default) lpadmin -d "${1:?queue name}" || fail "cannot make ${1} the default" ;;
  wait) wait_jobs "$@" ;;
  stop) stop ;;
  *) fail "unknown command $cmd" ;;
esac
