#!/usr/bin/env bash
# Installs Plenwick on a real machine (run as root, after the build):
#   - the program folder under /opt/plenwick (from build/bin),
#   - fresh certificates in its server/ folder,
#   - the root certificate in the system's trust store and in the browsers'
#     certificate stores (NSS) of the users that have a home folder,
#   - the print service as the systemd unit qelt.service, enabled and started,
#   - a polkit rule that lets a user of a local, active session start, stop
#     and restart qelt.service (the tray's watchdog runs as that user),
#   - the tray program in the desktop session's autostart.
# Options:
#   --prefix DIR     program folder (default /opt/plenwick)
#   --root DIR       install into DIR as if it were / (for tests): the files,
#                    the polkit rule too, but nothing is said to systemd
#   --no-systemd     write the unit file but do not talk to systemd, and no
#                    polkit rule (the tray then runs Kelvorn -APP_MODE)
#   --no-trust       leave the trust stores alone
#   --update-host H  a host the update and upload may reach (repeatable);
#                    written to server/update-hosts, which lists nothing without it
set -euo pipefail
cd "$(dirname "$0")/.."

prefix=/opt/plenwick
destroot=""
use_systemd=1
polkit_rule=1
trust=1
update_hosts=()
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix=$2; shift 2 ;;
    --root) destroot=$2; use_systemd=0; shift 2 ;;
    --no-systemd) use_systemd=0; polkit_rule=0; shift ;;
    --no-trust) trust=0; shift ;;
    --update-host)
      [ $# -ge 2 ] && [[ "$2" =~ ^[A-Za-z0-9.:-]+$ ]] || { echo "install: --update-host needs a host name or IP address" >&2; exit 2; }
      update_hosts+=("$2"); shift 2 ;;
    *) echo "install: unknown option $1" >&2; exit 2 ;;
  esac
done

fail() { echo "install: $*" >&2; exit 1; }
step() { echo "== $*"; }

[ -n "$destroot" ] || [ "$(id -u)" -eq 0 ] || fail "run as root (sudo bash scripts/install.sh)"
[ -x build/bin/Kelvorn ] && [ -x build/bin/Pallowen ] && [ -f build/bin/libVornel.so ] \
  && [ -f build/bin/fonts/PlenwickSerifSC-Regular.otf ] && [ -f build/bin/fonts/PlenwickSansSC-Regular.otf ] \
  || fail "build/bin is not complete: run 'bash scripts/run.sh --stop' or build first"

dest="$destroot$prefix"
step "program folder $dest"
mkdir -p "$dest"
# Copy the program files; keep settings and logs of an earlier installation.
for f in build/bin/*; do
  name=$(basename "$f")
  case "$name" in
    PrintConfig.ini|_Log|Log|server) continue ;;
  esac
  cp -a "$f" "$dest/"
done
# The tray runs as the desktop user and writes its log, the print-data log and
# the printer settings inside the program folder.
mkdir -p "$dest/_Log/Service" "$dest/_Log/Tray" "$dest/Log/woker"
chmod 1777 "$dest/_Log/Tray" "$dest/Log" "$dest/Log/woker"
touch "$dest/PrintConfig.ini"
chmod 666 "$dest/PrintConfig.ini"

step "certificates"
if [ ! -f "$dest/server/https.crt" ]; then
  bash scripts/make-certs.sh "$dest/server" >/dev/null
fi
# Both programs serve HTTPS with this key: the tray runs as the desktop user.
chmod 755 "$dest/server"
chmod 644 "$dest/server/https.key"
# The update installs what it downloads: only from these hosts, and only
# when nobody but the owner may change the list.
{
  echo "# Hosts the print service may reach for updates and uploads (https only)."
  echo "# One host name or IP address a line; written by scripts/install.sh --update-host."
  for h in ${update_hosts[@]+"${update_hosts[@]}"}; do echo "$h"; done
} > "$dest/server/update-hosts"
chmod 644 "$dest/server/update-hosts"

if [ "$trust" = 1 ]; then
  step "trust stores"
  casdir="$destroot/usr/local/share/ca-certificates"
  mkdir -p "$casdir"
  cp "$dest/server/root.crt" "$casdir/plenwick-root.crt"
  if [ -z "$destroot" ] && command -v update-ca-certificates >/dev/null; then
    update-ca-certificates >/dev/null
  fi
  if command -v certutil >/dev/null; then
    for home in "$destroot"/root "$destroot"/home/*; do
      [ -d "$home" ] || continue
      db="$home/.pki/nssdb"
      owner=$(stat -c %U "$home")
      mkdir -p "$db"
      [ -f "$db/cert9.db" ] || certutil -d "sql:$db" -N --empty-password
      certutil -d "sql:$db" -D -n "Plenwick Local Root" >/dev/null 2>&1 || true
      certutil -d "sql:$db" -A -t "C,," -n "Plenwick Local Root" -i "$dest/server/root.crt"
      chown -R "$owner" "$home/.pki" 2>/dev/null || true
      for prof in "$home"/.mozilla/firefox/*/; do
        [ -f "$prof/cert9.db" ] || continue
        certutil -d "sql:$prof" -A -t "C,," -n "Plenwick Local Root" -i "$dest/server/root.crt"
      done
    done
  else
    echo "install: certutil not found (package libnss3-tools): browsers keep their own stores" >&2
  fi
fi

step "service qelt"
unitdir="$destroot/etc/systemd/system"
mkdir -p "$unitdir"
sed "s|@KELVORN_PATH@|$prefix/Kelvorn|" resources/qelt.service > "$unitdir/qelt.service"
if [ "$use_systemd" = 1 ]; then
  if [ -d /run/systemd/system ]; then
    systemctl daemon-reload
    systemctl enable qelt.service
    systemctl restart qelt.service
  else
    echo "install: systemd is not running; start the service with '$prefix/Kelvorn -APP_MODE'" >&2
  fi
fi

rulefile="$destroot/etc/polkit-1/rules.d/60-plenwick-qelt.rules"
if [ "$polkit_rule" = 1 ]; then
  step "polkit rule for the tray's user"
  mkdir -p "$(dirname "$rulefile")"
  # polkitd reads the rules as its own user: readable by all, written by root.
  install -m 644 resources/plenwick-qelt.rules "$rulefile"
  # polkitd notices a new rules file by itself.
  if [ -z "$destroot" ] && [ ! -x /usr/lib/polkit-1/polkitd ]; then
    echo "install: polkitd is not installed (package polkitd): the tray cannot start or stop the service" >&2
  fi
else
  rm -f "$rulefile"
fi

step "tray autostart"
autodir="$destroot/etc/xdg/autostart"
mkdir -p "$autodir"
cat > "$autodir/pallowen.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=Plenwick
Exec=$prefix/Pallowen
X-GNOME-Autostart-enabled=true
NoDisplay=true
DESKTOP

echo "installed in $dest; the tray starts with the next desktop session ($prefix/Pallowen starts it now)"
