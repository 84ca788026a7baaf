#!/usr/bin/env bash
# Runs one test command in namespaces of its own, so it never meets a Kelvorn
# or Pallowen that runs on this machine (a developer's, or the installed
# service):
#   network  port 18086, the tray's ports, /proc/net/tcp and the abstract
#            sockets that serve as single-instance flags are per namespace;
#   mount    /dev/shm is a fresh tmpfs, so the named blocks and events and
#            their sweep are private;
#   pid      /proc shows only the test's own processes, so a process scan or
#            kill by program name cannot reach anything outside, and every
#            process the test leaves behind ends with it.
# Listing the cases of a GoogleTest binary needs no isolation.
# Exit 77 (CTest's "skipped") when this machine does not allow namespaces.
set -u

case " $* " in
  *" --gtest_list_tests "*) exec "$@" ;;
esac

flags=(--net --mount --pid --fork --mount-proc --propagation private)
[ "$(id -u)" -eq 0 ] || flags+=(--map-root-user)

if ! why=$(unshare "${flags[@]}" true 2>&1); then
  echo "isolated: SKIPPED: cannot make private namespaces here (unshare: ${why:-refused});" \
       "this test would meet the programs running on this machine" >&2
  exit 77
fi

# Inside: loopback up, a private /dev/shm, then the test as a child of the
# namespace's first process, which reaps whatever the test orphans.
exec unshare "${flags[@]}" bash -c '
  ip link set lo up || { echo "isolated: cannot bring up loopback" >&2; exit 1; }
  mount -t tmpfs -o mode=1777,size=512m plenwick-shm /dev/shm ||
    { echo "isolated: cannot mount a private /dev/shm" >&2; exit 1; }
  "$@"
  exit $?
' isolated "$@"
