#!/usr/bin/env bash
# Runs the README's test command on a minimal Debian 12 root made with debootstrap, to show that
# scripts/install-deps.sh brings everything the build, the tests and the package need, whatever
# this machine already has.
#
#   sudo scripts/fresh-debian-check.sh [WORKDIR]     (default /var/tmp/korvan-fresh)
#
# WORKDIR/base is the debootstrap root, made once and kept; every run starts from a fresh copy of
# it, WORKDIR/run, holding a clean clone of the committed tree in /root/korvan-pro. The run has a
# mount namespace of its own: /proc, a read-only /sys, and a /dev of its own (basic nodes and a
# new devpts instance), so the virtual ports that the tests link into /dev are seen by no one else.
# The Debian archive (and the security archive, if any) come from this machine's own apt sources,
# deb822 or classic lists alike, and so does its HTTP proxy: a site behind a local mirror or
# proxy works as its apt does. KORVAN_MIRROR overrides the archive; KORVAN_COMMAND the command
# run in the clone.
# KORVAN_AGAIN=1 runs again in the existing WORKDIR/run, its clone brought up to date: a quick
# second look at a change, no longer a fresh machine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/var/tmp/korvan-fresh}
command=${KORVAN_COMMAND:-./scripts/test.sh}

# The archive URI of this machine's apt whose suite is $1, else the first one whose suite matches
# the pattern $2. apt reads the sources itself, so every format it accepts is understood, and
# no list needs to have been downloaded.
apt_archive() {
  apt-get indextargets --no-release-info --format '$(TARGET_OF) $(COMPONENT) $(RELEASE) $(REPO_URI)' |
    awk -v suite="$1" -v pattern="$2" '
      $1 != "deb" || $2 != "main" { next }
      $3 == suite { print $4; found = 1; exit }
      fallback == "" && $3 ~ pattern { fallback = $4 }
      END { if (!found && fallback != "") print fallback }'
}
mirror=${KORVAN_MIRROR:-$(apt_archive bookworm '^[a-z]+$')}
security=$(apt_archive bookworm-security '-security$')
if [ -z "$mirror" ]; then
  echo "fresh-debian-check: this machine's apt has no Debian archive; give one in KORVAN_MIRROR" >&2
  exit 1
fi
proxy=
eval "$(apt-config shell proxy Acquire::http::Proxy)"
[ -n "$proxy" ] && export http_proxy=$proxy

if [ "$(id -u)" -ne 0 ]; then
  echo "fresh-debian-check: run as root (debootstrap, chroot and mounts)" >&2
  exit 1
fi
if ! command -v debootstrap >/dev/null 2>&1; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi

base=$work/base
run=$work/run
mkdir -p "$work"
if [ ! -e "$base/.korvan-complete" ]; then
  rm -rf "$base"
  echo "fresh-debian-check: debootstrap bookworm from $mirror"
  debootstrap bookworm "$base" "$mirror"
  {
    echo "deb $mirror bookworm main"
    echo "deb $mirror bookworm-updates main"
    [ -z "$security" ] || echo "deb $security bookworm-security main"
  } >"$base/etc/apt/sources.list"
  [ -z "$proxy" ] || echo "Acquire::http::Proxy \"$proxy\";" >"$base/etc/apt/apt.conf.d/01proxy"
  touch "$base/.korvan-complete"
fi

if [ "${KORVAN_AGAIN:-0}" = 1 ] && [ -d "$run/root/korvan-pro" ]; then
  git -C "$run/root/korvan-pro" pull --quiet --ff-only
else
  rm -rf "$run"
  cp -a "$base" "$run"
  rm "$run/.korvan-complete"
  cp /etc/resolv.conf "$run/etc/resolv.conf"
  git clone --quiet "$top" "$run/root/korvan-pro"
fi
echo "fresh-debian-check: $(git -C "$run/root/korvan-pro" log -1 --format='%h %s')"

export KORVAN_ROOT=$run KORVAN_RUN=$command
exec unshare -m --propagation private bash -c '
  set -euo pipefail
  root=$KORVAN_ROOT
  mount -t proc proc "$root/proc"
  mount -t sysfs -o ro sysfs "$root/sys"
  mount -t tmpfs -o mode=755 tmpfs "$root/dev"
  for n in null zero random urandom tty full; do
    touch "$root/dev/$n"
    mount --bind "/dev/$n" "$root/dev/$n"
  done
  mkdir "$root/dev/pts" "$root/dev/shm"
  mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$root/dev/pts"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  ln -s pts/ptmx "$root/dev/ptmx"
  ln -s /proc/self/fd "$root/dev/fd"
  ln -s /proc/self/fd/0 "$root/dev/stdin"
  ln -s /proc/self/fd/1 "$root/dev/stdout"
  ln -s /proc/self/fd/2 "$root/dev/stderr"
  exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /root/korvan-pro && time $KORVAN_RUN"'
