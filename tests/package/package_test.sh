#!/usr/bin/env bash
# Tests of the Debian packages, from this build tree (CTest label "package").
#
# usage: package_test.sh build BUILD_DIR DIST     packs both packages into DIST (CPack)
#        package_test.sh contents DIST            file paths, conffiles, lintian, systemd-analyze
#        package_test.sh setup DIST               the set-up program from the unpacked package
#        package_test.sh server DIST              unpacked vxd, orvelanctl and Squid's parse
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

tmp=$(mktemp -d /tmp/orvpkg.XXXXXX)
cleanup() {
  if [ -s "$tmp/vxd.pid" ]; then kill "$(cat "$tmp/vxd.pid")" 2>/dev/null || true; fi
  [ -n "${ORVPKG_KEEP:-}" ] || rm -rf "$tmp"
}
trap cleanup EXIT

# Unpacks both packages into $tmp/t (dpkg -x): paths that are neither /usr nor the build tree.
unpack() {
  local dist=$1
  mkdir -p "$tmp/t"
  dpkg -x "$dist"/orvelan-server_*.deb "$tmp/t"
  dpkg -x "$dist"/orvelan-console_*.deb "$tmp/t"
}

pack() {
  local build=$1 dist=$2
  rm -rf "$dist"
  (cd "$build" && cpack -G DEB -B "$dist" >"$tmp/cpack.out" 2>&1) || {
    cat "$tmp/cpack.out" >&2
    fail "cpack"
  }
  ls "$dist"/orvelan-server_*_*.deb "$dist"/orvelan-console_*_*.deb
}

contents() {
  local dist=$1 server console
  server=$(echo "$dist"/orvelan-server_*.deb)
  console=$(echo "$dist"/orvelan-console_*.deb)
  dpkg-deb --contents "$server" | awk '{ print $6 }' >"$tmp/server.list"
  dpkg-deb --contents "$console" | awk '{ print $6 }' >"$tmp/console.list"
  local f
  for f in ./usr/sbin/vxd ./usr/sbin/orvelan-server-setup ./usr/lib/orvelan/vxsh \
    ./usr/lib/orvelan/cpout ./usr/lib/orvelan/cpin ./usr/lib/orvelan/cpin2 \
    ./usr/lib/orvelan/cprestore ./usr/lib/orvelan/vxtail ./usr/lib/orvelan/kaka \
    ./usr/lib/orvelan/grouppen ./usr/lib/orvelan/getstats2 ./usr/lib/orvelan/squid-reload \
    ./lib/systemd/system/vxd.service ./etc/orvelan/vxd.conf ./etc/squid/conf.d/orvelan.conf \
    ./usr/share/man/man8/vxd.8.gz ./usr/share/man/man8/getstats2.8.gz \
    ./usr/share/man/man8/orvelan-server-setup.8.gz ./usr/share/doc/orvelan-server/copyright; do
    grep -qx "$f" "$tmp/server.list" || fail "orvelan-server lacks $f"
  done
  for f in ./usr/bin/orvelan ./usr/bin/orvelanctl ./usr/share/applications/orvelan.desktop \
    ./usr/share/icons/hicolor/256x256/apps/orvelan.png ./usr/share/man/man1/orvelanctl.1.gz \
    ./usr/share/man/man1/orvelan.1.gz ./usr/lib/orvelan/orvelan-desktop \
    ./usr/lib/orvelan/orvelan-ssh-relay ./usr/share/doc/orvelan-console/copyright; do
    grep -qx "$f" "$tmp/console.list" || fail "orvelan-console lacks $f"
  done
  # No file in both packages (apt would refuse to install the second one).
  local shared
  shared=$(comm -12 <(grep -v '/$' "$tmp/server.list" | sort) <(grep -v '/$' "$tmp/console.list" | sort))
  [ -z "$shared" ] || fail "files in both packages: $shared"
  # Nothing of the build tree leaks into a package.
  ! dpkg-deb --fsys-tarfile "$server" | tar -xO 2>/dev/null | grep -aq "$PWD" ||
    fail "orvelan-server names the build tree"

  dpkg-deb -e "$server" "$tmp/control"
  [ "$(sort "$tmp/control/conffiles")" = "$(printf '/etc/orvelan/vxd.conf\n/etc/squid/conf.d/orvelan.conf')" ] ||
    fail "conffiles: $(cat "$tmp/control/conffiles")"
  dpkg-deb -f "$server" Depends | grep -q 'libtirpc3' || fail "no computed dependencies"
  dpkg-deb -f "$console" Depends | grep -q 'libqt6widgets6' || fail "no computed dependencies"

  # lintian: no errors (warnings and notes are listed in the README).
  lintian --fail-on error "$server" "$console" >"$tmp/lintian.out" 2>&1 || {
    cat "$tmp/lintian.out" >&2
    fail "lintian reports errors"
  }
  cat "$tmp/lintian.out"

  # systemd-analyze verify with the unit's program at its unpacked path; it says every problem it
  # finds (a bad option, a missing unit or program) on its output, so that must stay empty.
  unpack "$dist"
  sed "s|/usr/sbin/vxd|$tmp/t/usr/sbin/vxd|" "$tmp/t/lib/systemd/system/vxd.service" >"$tmp/vxd.service"
  systemd-analyze verify --man=no "$tmp/vxd.service" >"$tmp/verify.out" 2>&1 ||
    fail "systemd-analyze verify: $(cat "$tmp/verify.out")"
  [ ! -s "$tmp/verify.out" ] || fail "systemd-analyze verify: $(cat "$tmp/verify.out")"

  # The relay in front of ssh runs from the unpacked tree: a refused connect names its cause.
  local status=0
  "$tmp/t/usr/lib/orvelan/orvelan-ssh-relay" 127.0.0.1 1 </dev/null >/dev/null 2>"$tmp/relay.err" ||
    status=$?
  [ "$status" = 255 ] && grep -qx "orvelan-ssh-relay: connect to host 127.0.0.1 port 1: Connection refused" \
    "$tmp/relay.err" || fail "orvelan-ssh-relay: status $status: $(cat "$tmp/relay.err")"

  # Every program answers --version; man finds the manual pages.
  local p
  for p in usr/sbin/vxd usr/sbin/orvelan-server-setup usr/lib/orvelan/vxsh usr/lib/orvelan/cpout \
    usr/lib/orvelan/getstats2 usr/lib/orvelan/kaka usr/bin/orvelanctl usr/bin/orvelan; do
    "$tmp/t/$p" --version | grep -Eq "^$(basename "$p") \(Orvelan\) [0-9]" || fail "$p --version"
  done
  MANPATH=$tmp/t/usr/share/man man -w orvelanctl | grep -q "$tmp/t/usr/share/man/man1/orvelanctl.1.gz" ||
    fail "man orvelanctl"
  MANPATH=$tmp/t/usr/share/man man -P cat vxd 2>/dev/null | grep -q "the proxy server's service" ||
    fail "man vxd"
}

# Runs the unpacked set-up program on ROOT; its output in $tmp/setup.N.
setup_run() {
  local n=$1
  shift
  "$tmp/t/usr/sbin/orvelan-server-setup" --root "$tmp/root" "$@" >"$tmp/setup.$n" 2>&1 ||
    fail "set-up run $n: $(cat "$tmp/setup.$n")"
}

# A listing of everything under the root with contents and link targets.
snapshot() {
  (cd "$tmp/root" && find . -printf '%p %y %m %l\n' | sort && find . -type f -exec md5sum {} + | sort)
}

setup_test() {
  unpack "$1"
  local etc=$tmp/root/l/apache/etc
  # A list and a password that exist before the first run stay as they are.
  mkdir -p "$etc/permit"
  printf 'kept::wjAAAAAAAAAAA:p::::\r\n' >"$etc/users"
  printf 'wjOLDOLDOLDOL' >"$etc/ampasswd"
  : >"$etc/empasswd" # an empty password file: no password is set
  setup_run 1
  grep -q '^  made  .*/empasswd (user level password)$' "$tmp/setup.1" || fail "no user password: $(cat "$tmp/setup.1")"
  grep -q '^  kept  .*/ampasswd (administrator level password)$' "$tmp/setup.1" || fail "admin password"
  grep -q 'user level password: [A-Za-z0-9]\{8\}   (shown only now)$' "$tmp/setup.1" || fail "no printed password"
  ! grep -q 'administrator level password:' "$tmp/setup.1" || fail "printed a password that was set"
  grep -q 'left for the administrator' "$tmp/setup.1" || fail "says nothing of what is left"
  [ "$(cat "$etc/ampasswd")" = wjOLDOLDOLDOL ] || fail "the set password was overwritten"
  [ "$(cat "$etc/users")" = "$(printf 'kept::wjAAAAAAAAAAA:p::::\r')" ] || fail "the user list was touched"
  [ "$(stat -c %a "$etc/empasswd")" = 600 ] || fail "password file mode"
  # The generated password is the console's encryption of the printed one (salt "wj").
  local plain
  plain=$(sed -n 's/.*user level password: \([^ ]*\) .*/\1/p' "$tmp/setup.1")
  [ "$(perl -e 'print crypt($ARGV[0], "wj")' "$plain")" = "$(cat "$etc/empasswd")" ] || fail "crypt"
  # The server programs at the unpacked paths, and the reload helper named in orvelan.cnf.
  [ "$(readlink "$tmp/root/cpout")" = "$tmp/t/usr/lib/orvelan/cpout" ] || fail "cpout link"
  [ "$(readlink "$tmp/root/l/tools/getstats2")" = "$tmp/t/usr/lib/orvelan/getstats2" ] || fail "getstats2 link"
  grep -qx "SQUIDRECONFIGURE $tmp/t/usr/lib/orvelan/squid-reload" "$tmp/root/orvelan.cnf" || fail "orvelan.cnf"
  [ -f "$tmp/root/etc/squid/orvelan/orvelan.conf" ] || fail "no Squid configuration"

  # The second run changes nothing.
  snapshot >"$tmp/before"
  setup_run 2 --password-stdin </dev/null
  snapshot >"$tmp/after"
  diff "$tmp/before" "$tmp/after" >&2 || fail "the second run changed the root"
  grep -q '^nothing to do' "$tmp/setup.2" || fail "second run: $(cat "$tmp/setup.2")"
  ! grep -q '^  made' "$tmp/setup.2" || fail "second run made something"

  # Passwords from standard input on a fresh root; an empty one is refused.
  rm -rf "$tmp/root"
  printf '\n\n' | "$tmp/t/usr/sbin/orvelan-server-setup" --root "$tmp/root" --password-stdin >"$tmp/setup.3" 2>&1 &&
    fail "an empty password was taken"
  grep -q 'password is empty' "$tmp/setup.3" || fail "empty password: $(cat "$tmp/setup.3")"
  printf 'userpw\nadminpw\n' | setup_run 4 --password-stdin
  [ "$(perl -e 'print crypt("adminpw", "wj")')" = "$(cat "$tmp/root/l/apache/etc/ampasswd")" ] || fail "stdin password"
  ! grep -q 'password:' "$tmp/setup.4" || fail "printed a password read from standard input"
}

# rpcbind, started when it does not run (as scripts/vxd-start does; root only).
ensure_rpcbind() {
  rpcinfo -p 127.0.0.1 >/dev/null 2>&1 && return 0
  [ "$(id -u)" -eq 0 ] || fail "rpcbind is not running and only root can start it"
  mkdir -p /run/rpcbind
  rpcbind -w 2>/dev/null || rpcbind
  local _
  for _ in $(seq 1 100); do
    rpcinfo -p 127.0.0.1 >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "rpcbind does not answer"
}

server_test() {
  command -v squid >/dev/null || {
    echo "squid is not installed: skipped"
    exit 0
  }
  unpack "$1"
  printf 'userpw\nadminpw\n' | setup_run 1 --password-stdin
  # The configuration files with their installed paths moved to the temporary tree; Debian's
  # squid.conf reads the conf.d directory of the unpacked package.
  sed "s|/var/lib/orvelan|$tmp/root|" "$tmp/t/etc/squid/conf.d/orvelan.conf" >"$tmp/orvelan.conf.d"
  rm "$tmp/t/etc/squid/conf.d/orvelan.conf"
  mv "$tmp/orvelan.conf.d" "$tmp/t/etc/squid/conf.d/orvelan.conf"
  grep -q '^include /etc/squid/conf.d/\*.conf' /etc/squid/squid.conf || fail "squid.conf has no conf.d include"
  sed "s|^include /etc/squid/conf.d/|include $tmp/t/etc/squid/conf.d/|" /etc/squid/squid.conf >"$tmp/squid.conf"

  # vxd as the unit starts it, from the unpacked tree, on loopback.
  ensure_rpcbind
  local exec
  exec=$(sed -n 's/^ExecStart=//p' "$tmp/t/lib/systemd/system/vxd.service")
  exec=${exec//\/usr\/sbin\//$tmp/t/usr/sbin/}
  exec=${exec//\/var\/lib\/orvelan/$tmp/root}
  exec=${exec//\/etc\/orvelan\//$tmp/t/etc/orvelan/}
  # shellcheck disable=SC2086 # the unit's command line, split into words as systemd does
  ORVELAN_SQUID_CONF=$tmp/squid.conf setsid $exec --replace --pidfile "$tmp/vxd.pid" \
    --exit-with-parent </dev/null >"$tmp/vxd.err" 2>&1 &
  local _
  for _ in $(seq 1 100); do
    [ -s "$tmp/vxd.pid" ] && break
    sleep 0.1
  done
  [ -s "$tmp/vxd.pid" ] || fail "vxd did not start: $(cat "$tmp/vxd.err")"
  grep -q "127.0.0.1 port" "$tmp/root/tcp_srvr.log" || fail "vxd is not on loopback"

  # The unpacked orvelanctl adds a user with a password; the save runs kaka from the unpacked
  # tree, and its SQUIDRECONFIGURE has Squid parse the configuration through the conf.d include.
  mkdir -p "$tmp/console"
  export ORVELAN_REGISTRY=$tmp/console/registry.reg
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwell\\Varrow Remote Administrator\\Setup]\r\n"Set"="X"\r\n"ProxyServerName"="127.0.0.1"\r\n' >"$ORVELAN_REGISTRY"
  local ctl=$tmp/t/usr/bin/orvelanctl
  printf 'secret1\n' | "$ctl" -C "$tmp/console" users add anna --proxy --password >"$tmp/ctl.out" 2>&1 ||
    fail "orvelanctl users add: $(cat "$tmp/ctl.out") $(tail -5 "$tmp/root/tcp_srvr.log")"
  grep -q '^anna:' "$tmp/root/etc/squid/orvelan/passwd" || fail "anna is not in Squid's password file"
  printf 'adminpw\n' | "$ctl" -C "$tmp/console" passwd check admin >"$tmp/ctl.out" 2>&1 ||
    fail "the administrator password of the set-up: $(cat "$tmp/ctl.out")"
  squid -k parse -f "$tmp/squid.conf" >"$tmp/parse.out" 2>&1 || fail "squid -k parse: $(cat "$tmp/parse.out")"
  ! grep -q 'FATAL\|ERROR' "$tmp/parse.out" || fail "squid -k parse: $(grep 'FATAL\|ERROR' "$tmp/parse.out")"
  grep -q "Processing: include $tmp/root/etc/squid/orvelan/orvelan.conf" "$tmp/parse.out" ||
    fail "squid did not read the generated configuration: $(grep Processing "$tmp/parse.out")"
  grep -q "Processing: acl orvelan_users proxy_auth REQUIRED" "$tmp/parse.out" || fail "the generated acl"

  # A configuration that Squid refuses fails the save and the list stays as it was.
  cp "$tmp/root/l/apache/etc/users" "$tmp/users.before"
  printf 'http_access deny orvelan_no_such_acl\n' >"$tmp/t/etc/squid/conf.d/zz-broken.conf"
  printf 'secret2\n' | "$ctl" -C "$tmp/console" users add bela --proxy --password >"$tmp/ctl.out" 2>&1 &&
    fail "a save that Squid refuses succeeded"
  cmp -s "$tmp/users.before" "$tmp/root/l/apache/etc/users" || fail "the refused save changed the list"
  rm "$tmp/t/etc/squid/conf.d/zz-broken.conf"
}

case "${1:-}" in
build) pack "$2" "$3" ;;
contents) contents "$2" ;;
setup) setup_test "$2" ;;
server) server_test "$2" ;;
*) fail "usage: $0 build|contents|setup|server ..." ;;
esac
echo "ok"
