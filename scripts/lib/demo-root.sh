# shellcheck shell=bash
# The demo installation shared by scripts/demo and scripts/screenshot: the build, a reference
# server root with realistic sample data, the console's registry store and its passwords.
# Sourced, not run. Every step is idempotent: a second run reuses what the first one made.
#
# Settings (environment):
#   ORVELAN_DEMO_ROOT   the server root (default $XDG_STATE_HOME/orvelan/demo-server)
#   ORVELAN_BUILD_DIR   the build directory (default build in the checkout)
#   ORVELAN_DEMO_USER_PASSWORD, ORVELAN_DEMO_ADMIN_PASSWORD   console passwords (demo, admin)

demo_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
demo_state=${XDG_STATE_HOME:-$HOME/.local/state}/orvelan
demo_root=${ORVELAN_DEMO_ROOT:-$demo_state/demo-server}
demo_build=${ORVELAN_BUILD_DIR:-$demo_repo/build}
demo_registry=$demo_state/registry.reg
demo_user_password=${ORVELAN_DEMO_USER_PASSWORD:-demo}
demo_admin_password=${ORVELAN_DEMO_ADMIN_PASSWORD:-admin}
export ORVELAN_REGISTRY=$demo_registry

demo_say() { printf 'demo: %s\n' "$*"; }
demo_fail() {
  printf 'demo: %s\n' "$*" >&2
  exit 1
}

# Installs the packages and builds the console, the reference server and orvelanctl (plus the
# extra targets given).
demo_build_all() {
  "$demo_repo/scripts/setup"
  # Configured every time: cheap when nothing changed, and it turns the console on in a build
  # directory that was configured without it.
  cmake -S "$demo_repo" -B "$demo_build" -G Ninja -DORVELAN_GUI=ON >/dev/null ||
    demo_fail "cmake could not configure $demo_build"
  cmake --build "$demo_build" --target orvelan vxd_all orvelanctl "$@" ||
    demo_fail "the build failed"
}

# Writes a text file as Windows-1250 bytes from UTF-8 text on standard input, with CR LF line
# ends when the second argument is "crlf". Written whole: temporary file, then rename.
demo_write_cp1250() {
  local file=$1 ends=${2:-lf}
  mkdir -p "$(dirname "$file")"
  if [ "$ends" = crlf ]; then
    sed 's/$/\r/' | iconv -f UTF-8 -t CP1250 >"$file.tmp"
  else
    iconv -f UTF-8 -t CP1250 >"$file.tmp"
  fi
  mv "$file.tmp" "$file"
}

# The traditional DES crypt(3) of a password, as the server's crypt procedure makes it.
demo_crypt() {
  perl -e 'print crypt($ARGV[0], $ARGV[1])' "$1" "$2"
}

# The sample users: login, group, password, rights (p, e, s), e-mail name, full name, phone,
# room, work phone, comment.
demo_users() {
  cat <<'EOF'
kovacs.eva|vezetoseg|Tavasz2024|p|e||kovacs.eva|Kovács Éva|+36 1 555 0101|101|1101|ügyvezető igazgató
szabo.peter|fejlesztes|Kod!Kod1|p|e||szabo.peter|Szabó Péter|+36 30 555 0102|214|1214|vezető fejlesztő
toth.aniko|konyveles|Szamla77|p|e||toth.aniko|Tóth Anikó|+36 1 555 0103|108|1108|főkönyvelő
nagy.gabor|fejlesztes|Gabor-99|p|||nagy.gabor|Nagy Gábor|+36 20 555 0104|215|1215|rendszergazda-helyettes
horvath.zsofia|ugyfelszolgalat|Zsofi123|p|e||horvath.zsofia|Horváth Zsófia|+36 1 555 0105|002|1002|ügyfélszolgálat, délelőtt
varga.odon|konyveles|Odon2001|p|||varga.odon|Varga Ödön|+36 70 555 0106|109|1109|bérszámfejtés
kiss.ildiko|ugyfelszolgalat|Ildi4567|p|e||kiss.ildiko|Kiss Ildikó|+36 1 555 0107|003|1003|ügyfélszolgálat, délután
molnar.laszlo|vezetoseg|Laci!2023|p|e|s|molnar.laszlo|Molnár László|+36 30 555 0108|100|1100|informatikai vezető
farkas.eniko|vendeg|Vendeg01|p|||farkas.eniko|Farkas Enikő|+36 20 555 0109|010|1010|gyakornok
balogh.ferenc|fejlesztes|Feri5555|p|e||balogh.ferenc|Balogh Ferenc|+36 1 555 0110|216|1216|tesztelő
papp.gyorgyi|konyveles|Gyorgyi8|||||Papp Györgyi|+36 1 555 0111|110|1110|szabadságon
lakatos.arpad|vendeg|Arpad321|p|||lakatos.arpad|Lakatos Árpád|+36 70 555 0112|011|1011|külsős tanácsadó
EOF
}

# Fills the server root with the sample data (only what is missing, so edits made through the
# console survive the next run).
demo_make_root() {
  local r=$demo_root etc=$demo_root/l/apache/etc
  mkdir -p "$r" "$etc/permit" "$r/var/log/squid" "$r/l/tools" "$r/tmp"
  if [ ! -f "$r/orvelan.cnf" ]; then
    demo_write_cp1250 "$r/orvelan.cnf" <<'EOF'
MainPasswdFile /l/apache/etc/empasswd
MainAdminPasswdFile /l/apache/etc/ampasswd
USERLISTFIL /l/apache/etc/users
USERDATALISTFIL /l/apache/etc/userdata
GROUPLISTFIL /l/apache/etc/groups
PERMITDIR /l/apache/etc/permit
USERPROC kaka
GROUPPROC grouppen
PROXYPROC kaka
SQUIDCONFDIR /etc/squid/orvelan
MAIL_NAME_2 @pelda-kft.hu
EOF
  fi
  if [ ! -f "$etc/groups" ]; then
    demo_write_cp1250 "$etc/groups" crlf <<'EOF'
vezetoseg a "/l/apache/etc/permit/vezetoseg.allow"
fejlesztes d "/l/apache/etc/permit/fejlesztes.deny"
konyveles d "/l/apache/etc/permit/konyveles.deny"
ugyfelszolgalat a "/l/apache/etc/permit/ugyfelszolgalat.allow"
vendeg a "/l/apache/etc/permit/vendeg.allow"
EOF
  fi
  # Permit lists: one URL a line, LF, in byte order.
  local -A permits=(
    [vezetoseg.allow]="www.mnb.hu www.nav.gov.hu www.portfolio.hu www.bet.hu www.index.hu www.hvg.hu mail.pelda-kft.hu"
    [fejlesztes.deny]="www.facebook.com www.youtube.com www.instagram.com www.tiktok.com www.netflix.com"
    [konyveles.deny]="www.facebook.com www.youtube.com www.jatekok.hu www.tippmix.hu www.hasznaltauto.hu"
    [ugyfelszolgalat.allow]="www.pelda-kft.hu mail.pelda-kft.hu www.posta.hu www.magyarorszag.hu www.mav.hu"
    [vendeg.allow]="www.pelda-kft.hu www.wikipedia.org www.bkk.hu"
  )
  local f
  for f in "${!permits[@]}"; do
    [ -f "$etc/permit/$f" ] || tr ' ' '\n' <<<"${permits[$f]}" | LC_ALL=C sort >"$etc/permit/$f"
  done
  if [ ! -f "$etc/users" ]; then
    local users="" data="" login group pw p e s mail full phone room work comment salt
    while IFS='|' read -r login group pw p e s mail full phone room work comment; do
      salt=${login:0:1}${login: -1}
      users+="$login:$group:$(demo_crypt "$pw" "$salt"):$p:$e:$s:$mail:"$'\n'
      data+="$login :$full :$phone :$room :$work :$comment "$'\n'
    done < <(demo_users)
    printf '%s' "$data" | demo_write_cp1250 "$etc/userdata" crlf
    printf '%s' "$users" | demo_write_cp1250 "$etc/users" crlf
  fi
  [ -f "$r/var/log/tty12" ] || demo_system_log >"$r/var/log/tty12"
  [ -f "$r/var/log/squid/access.log" ] || demo_access_log >"$r/var/log/squid/access.log"
}

# The server's system log: syslog lines of the last days.
demo_system_log() {
  awk -v now="$(date +%s)" 'BEGIN {
    srand(7)
    split("kernel: eth0: link up, 100Mbps, full-duplex|kernel: eth1: link up, 100Mbps, full-duplex|pppd[812]: local  IP address 80.99.12.34|pppd[812]: remote IP address 80.99.0.1|squid[1044]: Starting Squid Cache version 5.7|squid[1044]: Accepting HTTP Socket connections at 0.0.0.0:3128|sshd[2210]: Accepted password for root from 192.168.1.10 port 51522 ssh2|CRON[2301]: (root) CMD (/l/tools/logrotate.sh)|named[690]: zone pelda-kft.hu/IN: loaded serial 2024031501|kernel: ippp0: dialing 1 06123456789...|squid[1044]: storeDirWriteCleanLogs: Starting...|squid[1044]: Finished.  Wrote 18423 entries.|ntpd[640]: synchronized to 193.6.176.1, stratum 2|vxd[901]: registered program 0x48000003 version 1", msg, "|")
    t = now - 3 * 86400
    for (i = 0; i < 120; i++) {
      t += int(rand() * 2400) + 60
      print strftime("%b %e %H:%M:%S", t) " proxy " msg[int(rand() * 14) + 1]
    }
  }'
}

# The proxy's access log in Squid's native format over the last 30 days: busy working hours,
# quiet nights, HTTPS tunnels (CONNECT) beside plain requests, so that every resolution of the
# statistics draws a meaningful chart.
demo_access_log() {
  local logins offset
  logins=$(demo_users | cut -d'|' -f1 | tr '\n' ' ')
  offset=$(date +%z | awk '{ s = substr($1, 1, 1) == "-" ? -1 : 1; print s * (substr($1, 2, 2) * 3600 + substr($1, 4, 2) * 60) }')
  awk -v now="$(date +%s)" -v offset="$offset" -v logins="$logins" 'BEGIN {
    srand(42)
    n = split(logins, user, " ")
    m = split("http://www.index.hu/ http://www.hvg.hu/gazdasag http://www.portfolio.hu/ https://www.nav.gov.hu/ http://www.mnb.hu/arfolyamok https://www.youtube.com/ https://www.facebook.com/ http://www.origo.hu/ http://www.wikipedia.org/wiki/Budapest http://www.posta.hu/kuldemenykovetes http://www.bkk.hu/menetrendek http://www.mav.hu/ https://github.com/ http://www.idokep.hu/ http://www.jatekok.hu/", url, " ")
    split("text/html text/html image/jpeg application/javascript text/css image/png", type, " ")
    split("TCP_MISS/200 TCP_HIT/200 TCP_MISS/200 TCP_REFRESH_MODIFIED/200 TCP_MISS/304 TCP_DENIED/403", act, " ")
    t = now - 30 * 86400
    while (t < now) {
      hour = int(((t + offset) % 86400) / 3600)
      day = int((t + offset) / 86400) % 7  # 0 Thursday ... 2 Saturday, 3 Sunday
      busy = (hour >= 8 && hour < 17) ? 1 : 0.08
      if (day == 2 || day == 3) busy = busy * 0.2
      t += rand() * 60 / busy + 1
      u = user[int(rand() * n) + 1]; s = url[int(rand() * m) + 1]
      a = act[int(rand() * 6) + 1]
      bytes = a ~ /403/ ? 3900 : int(rand() * rand() * 400000) + 300
      method = "GET"
      if (s ~ /^https:/ && rand() < 0.7) {
        method = "CONNECT"; a = "TCP_TUNNEL/200"; s = substr(s, 9); sub(/\/.*/, "", s); s = s ":443"
        bytes = bytes * 3
      }
      printf "%.3f %6d 192.168.1.%d %s %d %s %s %s %s %s\n", t, int(rand() * 900) + 20,
        int(rand() * 40) + 20, a, bytes, method, s, u,
        (a ~ /HIT|403/ ? "NONE/-" : "DIRECT/80.99.1.1"), type[int(rand() * 6) + 1]
    }
  }'
}

# The console's registry store: the set mark, the server and the ping targets on loopback.
demo_write_registry() {
  mkdir -p "$demo_state"
  local key='HKEY_LOCAL_MACHINE\SOFTWARE\Tarnwell\Varrow Remote Administrator\Setup'
  [ -f "$demo_registry" ] && grep -q '^"Set"="X"' "$demo_registry" && return 0
  printf 'REGEDIT4\r\n\r\n[%s]\r\n"Set"="X"\r\n"ProxyServerName"="127.0.0.1"\r\n"InternetServerForPing"="127.0.0.1"\r\n"LanServerForPing"="127.0.0.1"\r\n"FrameServerForPing"="127.0.0.1"\r\n"ActiveNetworkDevice"="lo"\r\n' \
    "$key" >"$demo_registry.tmp"
  mv "$demo_registry.tmp" "$demo_registry"
}

# The console's line speeds ("setup.bin" in its working directory: nine little-endian doubles in
# kbit/s: incoming Internet, LAN, intranet, outgoing the same, then the three totals).
demo_write_line_speeds() {
  mkdir -p "$demo_state"
  [ -f "$demo_state/setup.bin" ] && return 0
  perl -e 'print pack("d<9", 8192, 100000, 2048, 1024, 100000, 2048, 9216, 200000, 4096)' \
    >"$demo_state/setup.bin.tmp"
  mv "$demo_state/setup.bin.tmp" "$demo_state/setup.bin"
}

# Starts rpcbind (when needed) and vxd on the demo root, listening on loopback only. The
# network page's intranet line (eth1) shows the loopback traffic, so the demo has a line that
# moves on a machine without the proxy's interfaces.
demo_start_server() {
  if [ -s "$demo_root/.vxd.pid" ] &&
    [ "$(cat /proc/"$(cat "$demo_root/.vxd.pid")"/comm 2>/dev/null)" = vxd ]; then
    demo_say "vxd already runs on $demo_root"
    return 0
  fi
  ORVELAN_SERVER_BIN_DIR=$demo_build/server "$demo_repo/scripts/vxd-start" "$demo_root" \
    --listen 127.0.0.1 --netdev-alias eth1=lo >/dev/null || demo_fail "vxd did not start (see $demo_root/.vxd.err)"
}

demo_stop_server() {
  if [ -s "$demo_root/.vxd.pid" ]; then
    "$demo_repo/scripts/vxd-stop" "$demo_root" || true
  fi
}

# Sets the two console passwords on the server through orvelanctl (from standard input).
demo_set_passwords() {
  local ctl=$demo_build/tools/orvelanctl
  mkdir -p "$demo_state"
  printf '%s\n' "$demo_user_password" | "$ctl" -C "$demo_state" passwd set user >/dev/null ||
    demo_fail "orvelanctl could not set the user password"
  printf '%s\n' "$demo_admin_password" | "$ctl" -C "$demo_state" passwd set admin >/dev/null ||
    demo_fail "orvelanctl could not set the administrator password"
}

demo_have_display() {
  [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]
}
