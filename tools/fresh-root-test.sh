#!/usr/bin/env bash
# Installs the Debian package into a fresh minimal Debian 12 root, as a new user would,
# and proves there that the programs run, record, list and upload to a line database.
#
#   sudo bash tools/fresh-root-test.sh         (as root; Debian 12 host)
#
# Steps: build the package (Release, no tests, build-fresh-root/); unpack a minimal
# bookworm root (debootstrap --variant=minbase, made once and kept as a tarball in
# $QUILLON_ROOT_CACHE, default /var/cache/quillon); `apt-get install ./quillon_*.deb`
# there with nothing else installed; then, inside the root: the plugins and programs
# resolve, the demo scenario runs headless, a recorded scenario writes a records file
# that `quillon-records list` reads, and against a line database a station run uploads
# and `quillon-records status` shows it.
#
# The line database is the host's PostgreSQL server, started on a socket folder of its
# own that is bind-mounted into the root: the root then holds exactly the package and
# what its dependencies pulled in (a server installed there would bring libpq and more
# of its own, and need its services started in a chroot), and the station reaches the
# server as on a line, through the socket, with a password from ~/.pgpass.
#
# The only network use is the Debian mirror this machine's apt uses. Every check says
# what it did; the first wrong result ends the script with status 1. Mounts, the server
# and the root are removed on any exit.
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$REPO/build-fresh-root
CACHE=${QUILLON_ROOT_CACHE:-/var/cache/quillon}
SUITE=bookworm
ARCH=$(dpkg --print-architecture)
PGBIN=${QUILLON_PG_BINDIR:-/usr/lib/postgresql/15/bin}
STATION=fresh-root-station
SOCKET_IN_ROOT=/run/quillon-pg
START=$SECONDS

say() { printf 'fresh-root: %s\n' "$*"; }
fail() {
  printf 'fresh-root: FAILED: %s\n' "$*" >&2
  exit 1
}
step() { say "[$((SECONDS - START))s] $*"; }

[ "$(id -u)" -eq 0 ] || fail "run as root (chroot, mounts, debootstrap)"
for tool in debootstrap chroot mount umount mountpoint runuser timeout; do
  command -v "$tool" >/dev/null || fail "$tool is missing (bash tools/deps.sh installs it)"
done
for program in initdb pg_ctl postgres psql; do
  [ -x "$PGBIN/$program" ] || fail "$PGBIN/$program is missing (Debian package postgresql)"
done
id postgres >/dev/null 2>&1 || fail "no postgres account (Debian package postgresql)"

# ---- the mirror this machine's apt uses ---------------------------------------------
# First URI of a Debian source for SUITE (deb822 .sources or one-line .list entries).
mirror_for() {
  local suite=$1 file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    sed -E 's/\[[^]]*\]//' "$file" | awk -v s="$suite" '$1 == "deb" && $3 == s { print $2; exit }'
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk -v s="$suite" 'BEGIN { RS = ""; FS = "\n" }
      { types = uris = suites = ""; enabled = 1
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^Types:/) types = $i
          else if ($i ~ /^URIs:/) uris = $i
          else if ($i ~ /^Suites:/) suites = $i
          else if ($i ~ /^Enabled: *no/) enabled = 0 }
        if (enabled && types ~ /[ \t]deb([ \t]|$)/ && (suites " ") ~ ("[ \t]" s "[ \t]")) {
          split(uris, u, /[ \t]+/); print u[2]; exit } }' "$file"
  done
}
MIRROR=$(mirror_for "$SUITE" | head -n1)
SECURITY=$(mirror_for "$SUITE-security" | head -n1)
[ -n "$MIRROR" ] || fail "no Debian mirror for $SUITE in /etc/apt/sources.list or /etc/apt/sources.list.d"
say "mirror $MIRROR${SECURITY:+, security $SECURITY}"

# ---- clean-up on any exit -------------------------------------------------------------
WORK=$(mktemp -d /var/tmp/quillon-fresh-root.XXXXXX)
chmod 711 "$WORK" # the postgres account reaches its folders below
ROOT=$WORK/root
MOUNTS=()
PG_STARTED=0
CHILD=
exec 3>&1 4>&2 # the clean-up reports here, also when a trap interrupts a redirected command
cleanup() {
  local status=$? i
  set +e
  exec 1>&3 2>&4
  step "cleaning up"
  if [ -n "$CHILD" ]; then
    kill -TERM "$CHILD" 2>/dev/null
    wait "$CHILD" 2>/dev/null
  fi
  if [ "$PG_STARTED" -eq 1 ]; then
    runuser -u postgres -- "$PGBIN/pg_ctl" -D "$WORK/pg/data" -m immediate -w stop >/dev/null 2>&1
  fi
  for ((i = ${#MOUNTS[@]} - 1; i >= 0; i--)); do
    umount "${MOUNTS[i]}" 2>/dev/null || umount -l "${MOUNTS[i]}"
  done
  # Never remove through a mount that is still there.
  if grep -q " $WORK/" /proc/self/mounts; then
    printf 'fresh-root: %s still has mounts; left in place\n' "$WORK" >&2
    status=1
  else
    rm -rf --one-file-system "$WORK"
  fi
  step "done (status $status)"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

mount_in_root() { # mount_in_root TARGET MOUNT-ARGS...
  local target=$ROOT$1
  shift
  mkdir -p "$target"
  mount "$@" "$target"
  MOUNTS+=("$target")
}

# Runs a command in the root with a clean environment (nothing of the caller's Qt, libpq
# or display settings), headless, as the root's own root account, for at most LIMIT
# seconds (default 120).
# It runs in the background and is waited for, so that an interrupt is handled at once
# and the clean-up stops it before unmounting.
in_root() {
  local status=0
  timeout "${LIMIT:-120}" chroot "$ROOT" /usr/bin/env -i HOME=/root LANG=C.UTF-8 PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    QT_QPA_PLATFORM=offscreen DEBIAN_FRONTEND=noninteractive "$@" &
  CHILD=$!
  wait "$CHILD" || status=$?
  CHILD=
  return "$status"
}

# ---- 1. the package -------------------------------------------------------------------
step "building the package in $BUILD (Release, no tests)"
rm -f "$BUILD"/quillon_*.deb
if ! { cmake -S "$REPO" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_TESTS=OFF &&
  cmake --build "$BUILD" -j"$(nproc)" && (cd "$BUILD" && cpack); } >"$WORK/build.log" 2>&1; then
  cat "$WORK/build.log" >&2
  fail "the package did not build"
fi
DEB=$(ls "$BUILD"/quillon_*_"$ARCH".deb)
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
say "built $(basename "$DEB"); Depends: $DEPENDS"
for dep in libqt6sql6-sqlite libqt6sql6-psql qt6-qpa-plugins libqt6charts6 libqt6widgets6; do
  tr ',' '\n' <<<"$DEPENDS" | sed -E 's/^ +//; s/ .*//' | grep -qx "$dep" || fail "the package does not depend on $dep"
done
say "check: the package depends on the SQL drivers, the QPA plugins and the Qt libraries: ok"

# ---- 2. a fresh minimal root ------------------------------------------------------------
BASE=$CACHE/$SUITE-minbase-$ARCH-$(printf '%s' "$MIRROR" | md5sum | cut -c1-8).tar
if [ ! -f "$BASE" ]; then
  step "making the minimal $SUITE root once (debootstrap; kept as $BASE)"
  mkdir -p "$CACHE"
  timeout 600 debootstrap --variant=minbase --arch="$ARCH" "$SUITE" "$WORK/base" "$MIRROR" >"$WORK/debootstrap.log" 2>&1 ||
    {
      tail -n 30 "$WORK/debootstrap.log" >&2
      fail "debootstrap did not make the root"
    }
  rm -rf "$WORK/base/var/cache/apt/archives/"*.deb
  tar --numeric-owner -C "$WORK/base" -cf "$BASE.partial" . && mv "$BASE.partial" "$BASE"
  rm -rf --one-file-system "$WORK/base"
fi
step "unpacking a fresh root from $BASE"
# In memory: unpacking, dpkg and the removal take seconds, not a minute on a busy disk.
mkdir "$ROOT"
mount -t tmpfs -o size=2g,mode=755 quillon-fresh-root "$ROOT"
MOUNTS+=("$ROOT")
tar --numeric-owner -C "$ROOT" -xf "$BASE"
if [ -e "$ROOT/usr/bin/quillon-sim" ] || in_root dpkg-query -W libqt6core6 >/dev/null 2>&1; then
  fail "the base root is not fresh: it already holds Qt or Quillon"
fi

{
  echo "deb $MIRROR $SUITE main"
  echo "deb $MIRROR $SUITE-updates main"
  [ -z "$SECURITY" ] || echo "deb $SECURITY $SUITE-security main"
} >"$ROOT/etc/apt/sources.list"
cp /etc/resolv.conf "$ROOT/etc/resolv.conf"
mount_in_root /proc -t proc proc
mount_in_root /dev --bind /dev
# The package lists and the downloaded packages are kept between runs (apt-get update
# then fetches only what changed on the mirror).
mkdir -p "$CACHE/apt-archives/partial" "$CACHE/apt-lists/partial"
mount_in_root /var/cache/apt/archives --bind "$CACHE/apt-archives"
mount_in_root /var/lib/apt/lists --bind "$CACHE/apt-lists"

# ---- 3. install the package as a new user would ---------------------------------------
step "apt-get update and apt-get install ./$(basename "$DEB") in the root"
cp "$DEB" "$ROOT/tmp/"
LIMIT=300 in_root apt-get update -qq >"$WORK/apt.log" 2>&1 || {
  cat "$WORK/apt.log" >&2
  fail "apt-get update in the root"
}
# Without recommends: the package's own dependencies must be enough.
LIMIT=400 in_root sh -c "cd /tmp && apt-get install -y -q --no-install-recommends ./$(basename "$DEB")" \
  >>"$WORK/apt.log" 2>&1 || {
  tail -n 40 "$WORK/apt.log" >&2
  fail "apt-get install of the package in the root"
}
say "installed: $(in_root dpkg-query -W -f="\${Package} \${Version} \${Status}" quillon)"
in_root dpkg-query -W -f="\${Status}" quillon | grep -q "install ok installed" || fail "quillon is not installed"

check_resolves() { # every library of FILE is found in the root
  local missing
  missing=$(in_root ldd "$1" | grep "not found" || true)
  [ -z "$missing" ] || fail "$1 in the root misses: $missing"
}
plugin_dirs=("$ROOT"/usr/lib/*/qt6/plugins)
[ -d "${plugin_dirs[0]}" ] || fail "no Qt plugin folder in the root"
QTPLUGINS=${plugin_dirs[0]#"$ROOT"}
for file in /usr/bin/quillon /usr/bin/quillon-sim /usr/bin/quillon-records \
  "$QTPLUGINS/sqldrivers/libqsqlite.so" "$QTPLUGINS/sqldrivers/libqsqlpsql.so" \
  "$QTPLUGINS/platforms/libqoffscreen.so" "$QTPLUGINS/platforms/libqxcb.so"; do
  [ -f "$ROOT$file" ] || fail "$file is not in the root"
  check_resolves "$file"
done
say "check: the three programs, the SQLite and PostgreSQL drivers and the platform plugins are there and resolve: ok"

for program in quillon quillon-sim; do
  version=$(in_root "$program" --version) || fail "$program --version"
  [[ $version == "$program "* ]] || fail "$program --version printed: $version"
done
in_root quillon-records --help >/dev/null || fail "quillon-records --help"
say "check: quillon --version, quillon-sim --version, quillon-records --help: ok"

# Runs quillon-sim on a scenario in the root; the summary goes to FILE.out.
sim_run() { # sim_run NAME SCENARIO [options...]
  local name=$1 scenario=$2
  shift 2
  LIMIT=180 in_root quillon-sim --scenario "$scenario" --report "/tmp/$name.json" "$@" \
    >"$ROOT/tmp/$name.out" 2>"$ROOT/tmp/$name.err" || {
    cat "$ROOT/tmp/$name.out" "$ROOT/tmp/$name.err" >&2
    fail "quillon-sim --scenario $scenario $*"
  }
  grep -q "^Overall: PASS$" "$ROOT/tmp/$name.out" || {
    cat "$ROOT/tmp/$name.out" >&2
    fail "$name: the simulated good board did not PASS"
  }
  ! grep -q "^Problem:" "$ROOT/tmp/$name.out" || {
    cat "$ROOT/tmp/$name.out" >&2
    fail "$name: the run reported problems"
  }
  ! grep -q '"warning"' "$ROOT/tmp/$name.json" || {
    grep -A2 '"warning"' "$ROOT/tmp/$name.json" >&2
    fail "$name: the report has a warning"
  }
}

# The number of runs `quillon-records list` shows for a records file in the root.
listed_runs() {
  local listing
  listing=$(in_root quillon-records list --db "$1") || fail "quillon-records list --db $1"
  printf '%s\n' "$listing" >"$ROOT/tmp/list.out"
  grep -cE '^[0-9a-f]{8}' <<<"$listing" || true
}

# ---- 4. the demo, headless ------------------------------------------------------------
step "the demo scenario, headless"
sim_run demo /usr/share/doc/quillon/scenarios/demo.json
say "check: quillon-sim --scenario demo.json (offscreen): Overall: PASS, no problems: ok"

# ---- 5. a recorded run, listed --------------------------------------------------------
step "a recorded scenario and quillon-records list"
cat >"$ROOT/tmp/recorded.json" <<'EOF'
{"description": "The demo, recorded.", "records": "/tmp/recorded.sqlite", "steps": ["detect", "testAll"]}
EOF
sim_run recorded /tmp/recorded.json
[ -s "$ROOT/tmp/recorded.sqlite" ] || fail "the recorded scenario wrote no records file"
runs=$(listed_runs /tmp/recorded.sqlite)
[ "$runs" -eq 1 ] || {
  cat "$ROOT/tmp/list.out" >&2
  fail "quillon-records list shows $runs runs, not 1"
}
grep -q PASS "$ROOT/tmp/list.out" || fail "quillon-records list does not show the run's PASS"
say "check: the run was recorded and quillon-records list shows it (1 run, PASS): ok"

# ---- 6. the line database -------------------------------------------------------------
step "a line database: the host's server on a socket folder bind-mounted into the root"
mkdir -p "$WORK/pg/sock"
chown -R postgres: "$WORK/pg"
ADMIN_PW=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
STATION_PW=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
runuser -u postgres -- "$PGBIN/initdb" -D "$WORK/pg/data" -U postgres --auth-local=peer --auth-host=reject \
  -E UTF8 --locale=C.UTF-8 >"$WORK/pg/initdb.log" 2>&1 || {
  cat "$WORK/pg/initdb.log" >&2
  fail "initdb"
}
# The server's superuser by peer (the host's postgres account); everyone else by password.
printf 'local all postgres peer\nlocal all all scram-sha-256\n' >"$WORK/pg/data/pg_hba.conf"
runuser -u postgres -- "$PGBIN/pg_ctl" -D "$WORK/pg/data" -l "$WORK/pg/server.log" -w -t 60 \
  -o "-c listen_addresses='' -k $WORK/pg/sock -p 5432" start >/dev/null || {
  cat "$WORK/pg/server.log" >&2
  fail "the PostgreSQL server did not start"
}
PG_STARTED=1
as_superuser() { runuser -u postgres -- "$PGBIN/psql" -h "$WORK/pg/sock" -p 5432 -X -q -At -v ON_ERROR_STOP=1 "$@"; }
as_superuser -d postgres -c "CREATE ROLE quillon_admin LOGIN CREATEROLE PASSWORD '$ADMIN_PW'" \
  -c "CREATE DATABASE quillon_line OWNER quillon_admin" || fail "creating the administrator's role and database"
mount_in_root "$SOCKET_IN_ROOT" --bind "$WORK/pg/sock"
# Passwords as the station keeps them: ~/.pgpass of its account, mode 0600.
printf '*:5432:quillon_line:quillon_admin:%s\n*:5432:quillon_line:%s:%s\n' "$ADMIN_PW" "$STATION" "$STATION_PW" \
  >"$ROOT/root/.pgpass"
chmod 600 "$ROOT/root/.pgpass"
url() { printf 'postgresql://%s@localhost:5432/quillon_line?host=%s' "$1" "$SOCKET_IN_ROOT"; }
say "server up; the root reaches it at $(url "$STATION")"

in_root quillon-records db init --db "$(url quillon_admin)" --station "$STATION" >"$WORK/dbinit.out" 2>&1 || {
  cat "$WORK/dbinit.out" >&2
  fail "quillon-records db init"
}
grep -q "GRANT quillon_station TO \"$STATION\"" "$WORK/dbinit.out" || {
  cat "$WORK/dbinit.out" >&2
  fail "quillon-records db init did not print the station's grants"
}
say "check: quillon-records db init in the root made the schema and printed the station's grants: ok"

as_superuser -d quillon_line -c "CREATE ROLE \"$STATION\" LOGIN PASSWORD '$STATION_PW'" \
  -c "GRANT quillon_station TO \"$STATION\"" || fail "creating the station's role"
say "check: the station's role $STATION, in quillon_station: ok"

step "a station run that uploads"
cat >"$ROOT/tmp/line.json" <<'EOF'
{"description": "Two boards tested, recorded and uploaded.", "records": "/tmp/line.sqlite",
 "steps": ["detect", "testAll", "testAll"]}
EOF
sim_run line /tmp/line.json --station "$STATION" --line-db "$(url "$STATION")"
local_runs=$(listed_runs /tmp/line.sqlite)
[ "$local_runs" -eq 2 ] || {
  cat "$ROOT/tmp/list.out" >&2
  fail "the station's file holds $local_runs runs, not 2"
}
in_root quillon-records status --db /tmp/line.sqlite --line-db "$(url "$STATION")" >"$WORK/status.out" 2>&1 || {
  cat "$WORK/status.out" >&2
  fail "quillon-records status"
}
sed 's/^/    /' "$WORK/status.out"
for expected in "^Pending runs +0$" "^Uploaded runs +$local_runs$" "^Last upload +[0-9]{4}-" \
  "^Server now +reachable, schema version"; do
  grep -Eq "$expected" "$WORK/status.out" || fail "quillon-records status: no line matching '$expected'"
done
server_runs=$(as_superuser -d quillon_line -c "SELECT count(*) FROM runs WHERE uploaded_by = '$STATION'")
[ "$server_runs" -eq "$local_runs" ] || fail "the line database holds $server_runs runs of $STATION, not $local_runs"
say "check: quillon-records status shows $local_runs runs uploaded, none pending, the server reachable;" \
  "the server holds the same $server_runs runs: ok"

step "all checks passed"
