#!/usr/bin/env bash
# The installer, as far as it runs without systemd: into a scratch root, it
# lays out the program folder, certificates, unit file, trust store entries
# and tray autostart entry.
# Usage: install.sh <build program folder> <source tree>
. "$(dirname "$0")/lib.sh"

root=$E2E_TMP/root
mkdir -p "$root/home/alice"
# The installer copies from the checkout's build/bin; point it at this build.
work=$E2E_TMP/src
mkdir -p "$work/build"
cp -a "$E2E_SRC/scripts" "$E2E_SRC/resources" "$work/"
ln -s "$E2E_BUILD_BIN" "$work/build/bin"
bash "$work/scripts/install.sh" --root "$root" --update-host Updates.example.com \
  --update-host 10.0.0.5 >"$E2E_TMP/install.out" 2>&1 \
  || { cat "$E2E_TMP/install.out"; e2e_fail "install.sh failed"; }

p=$root/opt/plenwick
for f in Kelvorn Pallowen libVornel.so libGavrune.so server/root.crt server/https.crt server/https.key \
         Images/zzszyfp_NEW.PNG "Corvant系统安全配置说明文档.docx" \
         fonts/PlenwickSerifSC-Regular.otf fonts/PlenwickSansSC-Regular.otf fonts/OFL.txt; do
  [ -e "$p/$f" ] || e2e_fail "installed program folder lacks $f"
done
grep -qx "ExecStart=/opt/plenwick/Kelvorn" "$root/etc/systemd/system/qelt.service" \
  || e2e_fail "the unit does not start /opt/plenwick/Kelvorn"
grep -qx "Type=notify" "$root/etc/systemd/system/qelt.service" || e2e_fail "the unit is not Type=notify"
grep -qx "Exec=/opt/plenwick/Pallowen" "$root/etc/xdg/autostart/pallowen.desktop" \
  || e2e_fail "no tray autostart entry"
cmp -s "$p/server/root.crt" "$root/usr/local/share/ca-certificates/plenwick-root.crt" \
  || e2e_fail "the root is not in the system trust folder"
if command -v certutil >/dev/null; then
  certutil -d "sql:$root/home/alice/.pki/nssdb" -L | grep -q "Plenwick Local Root" \
    || e2e_fail "the root is not in the user's browser store"
fi
[ "$(grep -v '^#' "$p/server/update-hosts")" = "$(printf 'Updates.example.com\n10.0.0.5')" ] \
  || e2e_fail "server/update-hosts does not list the --update-host hosts"
[ "$(stat -c %a "$p/server/update-hosts")" = 644 ] || e2e_fail "server/update-hosts is writable by others"
bash "$work/scripts/install.sh" --root "$root" --update-host 'a b' >/dev/null 2>&1 \
  && e2e_fail "a host with a blank was accepted"
# The root's key was thrown away: only the leaf key exists.
[ "$(find "$p/server" -name '*.key' | wc -l)" = 1 ] || e2e_fail "a key other than the leaf's was left"
openssl verify -CAfile "$p/server/root.crt" "$p/server/https.crt" >/dev/null || e2e_fail "leaf does not verify"
e2e_log "PASS"
