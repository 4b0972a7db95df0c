#!/usr/bin/env bash
# Builds the Debian package from an already built tree, without building anything,
# unpacks it into a scratch folder and checks what it would install:
# the home under /opt/tamro, the unit, the manual page, the control files and the
# maintainer scripts. As root, installs it with dpkg into a scratch root, upgrades it to a
# repacked higher version and purges it. Then checks that a plain `cmake --install` stays
# inside its prefix.
#
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

build=$1
source=$2
home=/opt/tamro

for tool in cpack dpkg-deb cmake python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done
if [ ! -x "$build/tamro" ]; then
  echo "FAIL: $build/tamro is not built"
  exit 1
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tamro-package-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
check_file() { [ -f "$1" ] || fail "missing file ${1#"$scratch"}"; }
check_dir() { [ -d "$1" ] || fail "missing folder ${1#"$scratch"}"; }
check_line() {  # FILE REGEX
  grep -Eq -- "$2" "$1" || fail "${1#"$scratch"}: no line matching /$2/"
}

# --- build and unpack ---------------------------------------------------------------------

# cpack first builds the Makefile generator's "preinstall" target, which is the whole tree.
# Naming a generator that has no such step makes it package what is already built.
if ! (cd "$build" && timeout 300 cpack -G DEB -D CPACK_CMAKE_GENERATOR=Ninja -B "$scratch/out") \
  >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
debs=("$scratch"/out/tamro_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  ls -l "$scratch/out"
  echo "FAIL: expected one package tamro_*.deb"
  exit 1
fi
deb=${debs[0]}
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
root=$scratch/root
control=$scratch/control
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$control"

# --- files --------------------------------------------------------------------------------

[ -x "$root$home/bin/tamro" ] || fail "missing executable $home/bin/tamro"
# The defaults are examples; config/ is the agent's and ships empty.
for file in configuration.xml mappings.xml devices.xml heartbeat.xml; do
  check_file "$root$home/share/examples/$file"
done
check_dir "$root$home/config"
[ -z "$(ls -A "$root$home/config" 2>/dev/null)" ] || fail "the package ships files in config/"
check_dir "$root$home/log"
check_dir "$root$home/snmp/mibs"
check_dir "$root$home/snmp/persist"
check_file "$root$home/share/doc/tamro/configuration.md"
check_file "$root$home/share/doc/tamro/operating.md"
check_file "$root/lib/systemd/system/tamro.service"
check_file "$root/usr/share/man/man8/tamro.8.gz"

# Nothing else outside the home, and no second copy of the unit or page inside it.
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|; s|/$||' >"$scratch/contents"
while read -r path; do
  case "$path" in
    "" | / | /opt | /lib | /lib/systemd | /lib/systemd/system | /usr | /usr/share | /usr/share/man \
      | /usr/share/man/man8 | "$home" | "$home"/*) ;;
    /lib/systemd/system/tamro.service | /usr/share/man/man8/tamro.8.gz) ;;
    *) fail "unexpected path in the package: $path" ;;
  esac
  case "$path" in
    "$home"/lib/* | "$home"/share/man/*) fail "system file inside the home: $path" ;;
  esac
done <"$scratch/contents"

# The installed configuration must name no relative path: under systemd the working folder
# is /, which the unit makes read-only.
python3 - "$root$home/share/examples" <<'PY' || fail "config files are not well-formed, name relative paths, or list devices"
import sys, xml.etree.ElementTree as ET
folder = sys.argv[1]
for name in ("configuration.xml", "mappings.xml", "devices.xml"):
    ET.parse(f"{folder}/{name}")
assert len(ET.parse(f"{folder}/devices.xml").getroot()) == 0, "devices.xml lists devices"
root = ET.parse(f"{folder}/configuration.xml").getroot()
assert root.tag == "tamro-configuration", root.tag
for key in ("logging/file", "agent/heartbeat-template", "mappings-file", "devices-file",
            "snmp/mib-directory", "snmp/persistent-directory"):
    node = root.find(key)
    if node is not None and not (node.text or "").strip().startswith("/"):
        sys.exit(f"{key} is relative: {node.text}")
PY

version=$("$root$home/bin/tamro" -V 2>&1) || fail "the packaged binary does not run: $version"

# --- control files ------------------------------------------------------------------------

check_line "$control/control" '^Package: tamro$'
package_version=$(sed -n 's/^Version: //p' "$control/control")
[ "$version" = "TAMRO v$package_version" ] ||
  fail "tamro -V says '$version', the package version is '$package_version'"
depends=$(sed -n 's/^Depends: //p' "$control/control")
for needed in adduser libsnmp libctemplate libssl3 libsystemd0 libboost-program-options; do
  case "$depends" in
    *"$needed"*) ;;
    *) fail "Depends lacks $needed: $depends" ;;
  esac
done

# The agent rewrites its files: as conffiles they would stop an upgrade at dpkg's prompt.
[ ! -s "$control/conffiles" ] || fail "conffiles: $(tr '\n' ' ' <"$control/conffiles")"

for script in postinst prerm postrm; do
  if [ ! -f "$control/$script" ]; then
    fail "missing maintainer script $script"
    continue
  fi
  [ "$(stat -c %a "$control/$script")" = 755 ] || fail "$script is not mode 755"
  sh -n "$control/$script" || fail "$script: shell syntax error"
done
check_line "$control/postinst" 'adduser --system --group'
check_line "$control/postinst" 'getent passwd tamro'
check_line "$control/postinst" 'chown -R tamro:tamro .*config.*log.*snmp'
check_line "$control/postinst" '\[ -d /run/systemd/system \]'
check_line "$control/postinst" 'systemctl daemon-reload'

# Run postinst against stand-ins for the commands it calls, first as on a machine without
# the user, then with it: it must create the user exactly once, hand over the folders and
# copy each default into config/ only where there is no file.
stubs=$scratch/stubs
mkdir -p "$stubs"
for command in getent adduser addgroup chown chmod systemctl; do
  cat >"$stubs/$command" <<STUB
#!/bin/sh
echo "$command \$*" >>"$scratch/calls"
[ "$command" != getent ] || exit "\${STUB_GETENT_STATUS:-0}"
STUB
  chmod +x "$stubs/$command"
done
if PATH=$stubs:$PATH STUB_GETENT_STATUS=2 DPKG_ROOT=$root sh "$control/postinst" configure "" \
  >/dev/null 2>&1; then
  check_line "$scratch/calls" "^adduser --system --group .*tamro$"
  check_line "$scratch/calls" "^chown -R tamro:tamro $root$home/config $root$home/log $root$home/snmp$"
  cmp -s "$root$home/share/examples/devices.xml" "$root$home/config/devices.xml" ||
    fail "postinst did not copy the default devices.xml"
  if [ ! -d /run/systemd/system ] && grep -q '^systemctl' "$scratch/calls"; then
    fail "postinst calls systemctl although systemd is not running"
  fi
else
  fail "postinst configure failed for a new user"
fi
: >"$scratch/calls"
echo '<devices><!-- the operator'"'"'s --></devices>' >"$root$home/config/devices.xml"
if PATH=$stubs:$PATH STUB_GETENT_STATUS=0 DPKG_ROOT=$root sh "$control/postinst" configure 1.0 \
  >/dev/null 2>&1; then
  ! grep -q '^add' "$scratch/calls" || fail "postinst adds the user again: $(grep '^add' "$scratch/calls")"
  grep -q "the operator's" "$root$home/config/devices.xml" || fail "postinst overwrote devices.xml"
else
  fail "postinst configure failed for an existing user"
fi

# --- unit and manual page -----------------------------------------------------------------

unit=$root/lib/systemd/system/tamro.service
check_line "$unit" '^Type=notify$'
check_line "$unit" '^User=tamro$'
check_line "$unit" '^ExecStart=/opt/tamro/bin/tamro$'
check_line "$unit" '^ExecStartPre=/opt/tamro/bin/tamro --check$'
check_line "$unit" '^ExecReload=/opt/tamro/bin/tamro --check$'
check_line "$unit" '^ExecReload=/bin/kill -HUP \$MAINPID$'
check_line "$unit" '^Restart=on-failure$'
check_line "$unit" '^WatchdogSec=[0-9]+$'
check_line "$unit" '^ReadWritePaths=.*/opt/tamro/config'

if command -v groff >/dev/null; then
  warnings=$(zcat "$root/usr/share/man/man8/tamro.8.gz" | groff -man -ww -z 2>&1)
  [ -z "$warnings" ] || fail "manual page warnings: $warnings"
  zcat "$root/usr/share/man/man8/tamro.8.gz" | groff -man -Tascii -P-cbou 2>/dev/null | grep -q 'SYNOPSIS' ||
    fail "manual page does not render"
else
  echo "note: groff missing, manual page not rendered"
fi

# --- the packaged binary loads the packaged files -----------------------------------------

if "$root$home/bin/tamro" --help 2>&1 | grep -q -- '--check'; then
  # A copy of the home, with the addresses given: discovery needs a resolvable host name.
  checkhome=$scratch/checkhome
  cp -a "$root$home" "$checkhome"
  cp "$checkhome"/share/examples/*.xml "$checkhome/config/"
  python3 - "$checkhome/config/configuration.xml" <<'PY'
import sys, xml.etree.ElementTree as ET
tree = ET.parse(sys.argv[1])
reporting = tree.getroot().find("reporting")
ET.SubElement(reporting, "ip-address").text = "192.0.2.10"
ET.SubElement(reporting, "mac-address").text = "00:1A:2B:3C:4D:5E"
tree.write(sys.argv[1], encoding="utf-8", xml_declaration=True)
PY
  if ! output=$(TAMRO_HOME=$checkhome "$checkhome/bin/tamro" --check \
                  -c "$checkhome/config/configuration.xml" 2>&1); then
    fail "tamro --check refuses the packaged files: $output"
  fi
else
  echo "note: tamro has no --check; the packaged files were not loaded"
fi

# --- install, upgrade and purge with dpkg -------------------------------------------------

# Into a root of its own, scripts run without chroot (they prefix DPKG_ROOT) and against the
# stand-ins above, stdin closed as in an unattended upgrade. The higher version is this
# package repacked with the last version number raised and a changed default configuration
# (had the defaults been conffiles, that would stop the upgrade at dpkg's prompt).
if [ "$(id -u)" = 0 ]; then
  target=$scratch/target
  mkdir -p "$target/var/lib/dpkg/info" "$target/var/lib/dpkg/updates"
  : >"$target/var/lib/dpkg/status"
  : >"$target/var/lib/dpkg/available"
  in_target() {
    PATH=$stubs:$PATH dpkg --root="$target" --log="$scratch/dpkg.log" --force-script-chrootless \
      --force-depends "$@" </dev/null >>"$scratch/dpkg.out" 2>&1
  }
  next_version=$(echo "$package_version" | awk -F. -v OFS=. '{$NF = $NF + 1; print}')
  dpkg-deb -R "$deb" "$scratch/repack"
  sed -i "s/^Version: .*/Version: $next_version/" "$scratch/repack/DEBIAN/control"
  echo '<!-- changed in the next version -->' >>"$scratch/repack$home/share/examples/configuration.xml"
  dpkg-deb --root-owner-group -b "$scratch/repack" "$scratch/next.deb" >/dev/null

  config=$target$home/config
  if in_target -i "$deb"; then
    check_file "$config/configuration.xml"
    echo '<!-- edited by the operator -->' >>"$config/configuration.xml"
    echo '<devices><device><ip-address>192.0.2.1</ip-address></device></devices>' >"$config/devices.xml"
    cp -p "$config/configuration.xml" "$config/devices.xml" "$scratch/"
    if in_target -i "$scratch/next.deb"; then
      status=$(dpkg-query --admindir="$target/var/lib/dpkg" -W -f='${Status} ${Version}' tamro)
      [ "$status" = "install ok installed $next_version" ] || fail "after the upgrade: $status"
      for name in configuration.xml devices.xml; do
        cmp -s "$scratch/$name" "$config/$name" || fail "the upgrade changed the operator's $name"
      done
      check_file "$config/mappings.xml"
      check_line "$target$home/share/examples/configuration.xml" 'changed in the next version'
    else
      fail "upgrade to $next_version failed: $(tail -5 "$scratch/dpkg.out")"
    fi
    if in_target --purge tamro; then
      [ ! -e "$config/configuration.xml" ] || fail "purge left config/configuration.xml"
    else
      fail "purge failed: $(tail -5 "$scratch/dpkg.out")"
    fi
  else
    fail "dpkg -i failed: $(tail -5 "$scratch/dpkg.out")"
  fi
else
  echo "note: not root; install and upgrade with dpkg not tried"
fi

# --- plain install into a prefix ----------------------------------------------------------

prefix=$scratch/home
if cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
  [ -x "$prefix/bin/tamro" ] || fail "cmake --install: no bin/tamro"
  check_file "$prefix/config/configuration.xml"
  check_dir "$prefix/snmp/persist"
  check_file "$prefix/share/man/man8/tamro.8"
  check_line "$prefix/lib/systemd/system/tamro.service" "^ExecStart=$prefix/bin/tamro\$"
  check_line "$prefix/lib/systemd/system/tamro.service" "^Environment=TAMRO_HOME=$prefix\$"
  if grep -q '^Installing: /lib\|^Installing: /usr' "$scratch/install.log"; then
    fail "cmake --install wrote outside its prefix: $(grep '^Installing: /[lu]' "$scratch/install.log")"
  fi
else
  cat "$scratch/install.log"
  fail "cmake --install --prefix failed"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package checks passed"
