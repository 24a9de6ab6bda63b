#!/usr/bin/env bash
# CI: build the Debian package, install it, use the installed program as an
# ordinary user against the simulated scale, check where its files went,
# then remove the package. Runs as root; cleans up even when a step fails.
#
# The user is "nobody" with a home made for the run: no account is added to
# the machine, and removing one directory removes everything the run made.
set -euo pipefail
cd "$(dirname "$0")/.."
limit=${VARLO_PACKAGE_STEP_SECONDS:-120}   # for each step, so a hang ends the run

if [ "$(id -u)" -ne 0 ]; then
  echo "package-check: run as root (it installs and removes the package)" >&2
  exit 2
fi
if dpkg-query -W -f='${Status}' varlo-manager 2>/dev/null | grep -q "install ok installed"; then
  echo "package-check: varlo-manager is installed already; remove it first (apt-get purge varlo-manager)" >&2
  exit 2
fi
bash scripts/deps.sh ci

echo "== package"
build=build-pkg   # RelWithDebInfo: optimised as Release; cpack strips the debugging data
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARLO_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
timeout 3600 cmake --build "$build" -j"$(nproc)"
rm -f "$build"/varlo-manager_*.deb
(cd "$build" && timeout "$limit" cpack -G DEB >/dev/null)
deb=$(echo "$build"/varlo-manager_*_"$(dpkg --print-architecture)".deb)
[ -f "$deb" ] || { echo "package-check: cpack made no $deb" >&2; exit 1; }
echo "$deb"

fail() { echo "package-check: $*" >&2; exit 1; }

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/varlo-manager ./usr/bin/varlo-scale-sim ./usr/share/varlo-manager/ \
            ./usr/share/applications/varlo-manager.desktop \
            ./usr/share/icons/hicolor/scalable/apps/varlo-manager.svg \
            ./usr/share/icons/hicolor/48x48/apps/varlo-manager.png \
            ./usr/share/metainfo/org.varlo.manager.metainfo.xml \
            ./usr/share/man/man1/varlo-manager.1.gz \
            ./usr/share/bash-completion/completions/varlo-manager; do
  grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done
grep -q '/varlo-manager/varlo-print.so$' <<<"$contents" || fail "the package lacks the print module"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libqt6core6 libqt6widgets6 libqt6printsupport6 qt6-qpa-plugins; do
  grep -q "\b$lib\b" <<<"$depends" || fail "Depends does not name $lib"
done

tmp=$(mktemp -d /tmp/varlo-package.XXXXXX)
chmod 755 "$tmp"
sim_pid=
installed=0
cleanup() {
  local rc=$?
  set +e
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  if [ "$installed" = 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq -o DPkg::Lock::Timeout=300 varlo-manager >/dev/null || rc=1
  fi
  rm -rf "$tmp"
  exit "$rc"
}
trap cleanup EXIT

dpkg-deb -x "$deb" "$tmp/extract"
appstreamcli validate --no-net --strict "$tmp/extract/usr/share/metainfo/org.varlo.manager.metainfo.xml"
desktop-file-validate "$tmp/extract/usr/share/applications/varlo-manager.desktop"

echo "== install"
cp "$deb" "$tmp/"   # where apt's unprivileged downloader may read it
installed=1
DEBIAN_FRONTEND=noninteractive timeout "$limit" \
  apt-get install -y -qq -o DPkg::Lock::Timeout=300 "$tmp/$(basename "$deb")" >/dev/null
[ -x /usr/bin/varlo-manager ] || fail "the package did not install /usr/bin/varlo-manager"
mkdir -p "$tmp/home" "$tmp/work"
chown nobody:nogroup "$tmp/home" "$tmp/work"
data="$tmp/home/.local/share/varlo-manager"

# The user's session: nothing of CI's environment that could move the files.
as_user() {
  timeout "$limit" setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i HOME="$tmp/home" PATH=/usr/bin:/bin LC_ALL=C.UTF-8 "$@"
}

echo "== use it as nobody"
as_user varlo-scale-sim --demo >"$tmp/sim.out" 2>"$tmp/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
  port=$(head -n1 "$tmp/sim.out" 2>/dev/null || true)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || fail "varlo-scale-sim printed no device: $(cat "$tmp/sim.err")"

version=$(as_user varlo-manager --version)
echo "$version"
grep -qxF "Files: $data/ (this user's data directory)" <<<"$version" || fail "--version names another directory"
[ ! -e "$data" ] || fail "--version made the data directory"

out=$(cd "$tmp/work" && as_user varlo-manager upload "$tmp/work/PRICES.KYR" --port "$port")
[ "$out" = "Upload PLU OK!" ] || fail "upload said: $out"
[ "$(wc -l <"$tmp/work/PRICES.KYR")" = 77 ] || fail "the uploaded file does not hold 77 PLUs"
out=$(cd "$tmp/work" && as_user varlo-manager download "$tmp/work/PRICES.KYR" --port "$port")
[ "$out" = "Download PLU OK!" ] || fail "download said: $out"
# The window, painted once: a box at start-up would keep it from painting.
as_user env QT_QPA_PLATFORM=offscreen VARLO_EXIT_AFTER_FIRST_PAINT=1 varlo-manager \
  || fail "the window did not start cleanly"

for f in DEBUG.LOG Record.txt; do
  [ -s "$data/$f" ] || fail "$f is not in $data"
done
[ "$(stat -c %U "$data")" = nobody ] || fail "$data does not belong to the user"
beside=$(find /usr/bin /usr/share/varlo-manager -maxdepth 1 -type f \( -name config.ini -o -name KYR.CFG \
  -o -name '*.LNG' -o -name DEBUG.LOG -o -name Record.txt -o -name '[0-9]*.TXT' \))
[ -z "$beside" ] || fail "files were written beside the program: $beside"
ls -l "$data"

echo "== remove"
kill "$sim_pid" && wait "$sim_pid" 2>/dev/null || true
sim_pid=
DEBIAN_FRONTEND=noninteractive timeout "$limit" \
  apt-get purge -y -qq -o DPkg::Lock::Timeout=300 varlo-manager >/dev/null
installed=0
[ ! -e /usr/bin/varlo-manager ] || fail "/usr/bin/varlo-manager is still there after removal"
echo "package-check: ok"
