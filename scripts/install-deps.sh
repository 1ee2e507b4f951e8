#!/bin/sh
# Installs from Debian's archive whatever the build and the tests need and
# this machine lacks. Safe to run again: it does nothing when all is there.
set -eu

need=""
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake ninja-build g++ clang libgtest-dev libgmock-dev googletest libbenchmark-dev \
           libssl-dev libidn2-dev openssl python3 python3-aiosmtpd python3-pytest \
           mingw-w64 wine wine64 locales-all curl msmtp swaks time; do
  have_pkg "$pkg" || need="$need $pkg"
done

if [ -n "$need" ]; then
  echo "installing:$need"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $need
fi
