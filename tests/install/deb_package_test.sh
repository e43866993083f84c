#!/usr/bin/env bash
# deb_package_test.sh <build-dir> <version>: builds the Debian package with CPack,
# looks inside it, runs lintian, then installs it with apt in a throwaway root (an
# overlay over / in a private mount namespace, so this machine is untouched), runs
# the installed programs there and removes the package again.
source "$(dirname "$0")/install_common.sh"
version=$2

for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
  command -v "$tool" >/dev/null || rq_fail "$tool is missing (scripts/install-deps.sh installs it)"
done
# Packs what the build holds (the test command builds everything first).
(cd "$RQ_WORK" && cpack --config "$RQ_BUILD/CPackConfig.cmake" -G DEB -B "$RQ_WORK/out" >"$RQ_WORK/cpack.log" 2>&1) ||
  rq_fail "cpack failed: $(tail -n 30 "$RQ_WORK/cpack.log")"
debs=("$RQ_WORK"/out/rhomboquest_"$version"_*.deb)
deb=${debs[0]}
[[ -f $deb ]] || rq_fail "no package rhomboquest_${version}_*.deb: $(ls "$RQ_WORK/out")"

dpkg-deb -c "$deb" >"$RQ_WORK/contents"
for file in ./usr/bin/rhomboquest ./usr/bin/rhomboquest-exit ./usr/bin/rqdetect ./usr/libexec/rhomboquest/ZQ_I2cIo \
  ./usr/libexec/rhomboquest/Loomfield ./usr/share/rhomboquest/torvane.ini \
  ./usr/lib/systemd/system/rhomboquest-driver.service ./usr/lib/sysusers.d/rhomboquest.conf \
  ./usr/share/applications/rhomboquest.desktop ./usr/share/man/man8/ZQ_I2cIo.8.gz \
  ./usr/share/doc/rhomboquest/copyright; do
  grep -q " $file\$" "$RQ_WORK/contents" || rq_fail "$file is not in the package"
done
grep -q "ExecStart=/usr/libexec/rhomboquest/ZQ_I2cIo " <(dpkg-deb --fsys-tarfile "$deb" |
  tar -xO ./usr/lib/systemd/system/rhomboquest-driver.service) || rq_fail "the packaged unit names another daemon"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libavcodec59 libxcb1 libc6; do
  [[ $depends == *"$library"* ]] || rq_fail "Depends lacks $library: $depends"
done

lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" >"$RQ_WORK/lintian.log" 2>&1 ||
  rq_fail "lintian found errors: $(cat "$RQ_WORK/lintian.log")"
grep '^E:' "$RQ_WORK/lintian.log" && rq_fail "lintian errors"
cat "$RQ_WORK/lintian.log"

[[ $(id -u) -eq 0 ]] || rq_skip "installing into a throwaway root needs root; the package was built and checked"
unshare --mount true 2>/dev/null ||
  rq_skip "this machine refuses private mount namespaces; the package was built and checked, not installed"
grep -qw overlay /proc/filesystems ||
  rq_skip "no overlay file system here; the package was built and checked, not installed"
root=$RQ_WORK/root
mkdir -p "$root" "$RQ_WORK/upper/var/tmp" "$RQ_WORK/overlay-work"
cp "$deb" "$RQ_WORK/upper/var/tmp/"
cat >"$RQ_WORK/in-root.sh" <<'INNER'
set -euo pipefail
deb=/var/tmp/$1
export DEBIAN_FRONTEND=noninteractive
# Rebuilding the manual-page index twice would be most of this test's time.
echo "man-db man-db/auto-update boolean false" | debconf-set-selections
apt-get install -y -qq --no-install-recommends "$deb"
rhomboquest --version
rhomboquest-exit --version
/usr/libexec/rhomboquest/ZQ_I2cIo --version
getent group rhomboquest
apt-get remove -y -qq rhomboquest
for f in /usr/bin/rhomboquest /usr/libexec/rhomboquest/ZQ_I2cIo /usr/lib/systemd/system/rhomboquest-driver.service; do
  if [ -e "$f" ]; then echo "left behind: $f"; exit 1; fi
done
echo "installed, ran and removed"
INNER
unshare --mount --propagation private bash -c '
  set -e
  work=$1 root=$2 deb=$3
  mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/overlay-work" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs tmpfs "$root/tmp"
  mount -t tmpfs tmpfs "$root/run"
  chroot "$root" bash -s -- "$deb" <"$work/in-root.sh"
' _ "$RQ_WORK" "$root" "$(basename "$deb")" >"$RQ_WORK/root.log" 2>&1 ||
  rq_fail "throwaway root: $(tail -n 30 "$RQ_WORK/root.log")"
cat "$RQ_WORK/root.log"
grep -q "^rhomboquest $version\$" "$RQ_WORK/root.log" || rq_fail "the installed program did not report its version"
echo "Debian package: built, clean for lintian, installed and removed"
