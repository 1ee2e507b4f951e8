#!/bin/sh
# Installs from Debian's archive whatever one job needs and this machine
# lacks. Safe to run again: it does nothing when all is there.
#
#   scripts/install-deps.sh demo    build postrine and send through a capture server
#   scripts/install-deps.sh test    the whole test suite (the default)
#   scripts/install-deps.sh bench   the benchmarks
set -eu

job=${1:-test}
demo="cmake ninja-build g++ libssl-dev libidn2-dev nlohmann-json3-dev python3 python3-aiosmtpd"
case $job in
  demo) want=$demo ;;
  test) want="$demo ccache clang libgtest-dev libgmock-dev googletest openssl python3-pytest python3-pytest-xdist python3-cryptography
              mingw-w64 wine wine64 locales-all time postfix dovecot-core" ;;
  bench) want="$demo libbenchmark-dev openssl curl msmtp swaks time" ;;
  *) echo "usage: $0 [demo|test|bench]" >&2; exit 64 ;;
esac

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
updated=""
install() {
  echo "installing:$*"
  [ -n "$updated" ] || $SUDO apt-get update -qq
  updated=yes
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@"
}

need=""
for pkg in $want; do
  have_pkg "$pkg" || need="$need $pkg"
done

# The i686 Windows build's tests run under Debian's 32-bit wine, which needs
# the i386 architecture and a kernel that runs 32-bit code. Some virtual
# machines run 64-bit user code only; there wine32 would stand in for wine64
# as the loader of every program and none would start, so it stays out.
if [ "$job" = test ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    updated=""
  fi
  have_pkg libc6:i386 || need="$need libc6:i386"
fi
# Postfix and Dovecot serve end-to-end tests from configuration directories
# of their own, on loopback and free ports. The system's own instances stay
# out of the way: Postfix installs unconfigured, neither is started by the
# install (a policy-rc.d that says no, unless the machine has one), and
# neither is left running or enabled.
servers=""
for pkg in postfix dovecot-core; do
  case " $need " in *" $pkg "*) servers=yes ;; esac
done
policy=""
if [ -n "$servers" ]; then
  echo "postfix postfix/main_mailer_type select No configuration" | $SUDO debconf-set-selections
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    policy=yes
    trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod 755 /usr/sbin/policy-rc.d
  fi
fi
[ -z "$need" ] || install $need
if [ -n "$servers" ]; then
  if [ -n "$policy" ]; then
    $SUDO rm -f /usr/sbin/policy-rc.d
    trap - EXIT
  fi
  for service in postfix dovecot; do
    if [ -d /run/systemd/system ]; then
      $SUDO systemctl disable --now "$service" >/dev/null 2>&1 || true
    elif [ -x "/etc/init.d/$service" ]; then
      $SUDO "/etc/init.d/$service" stop >/dev/null 2>&1 || true
      $SUDO update-rc.d "$service" disable >/dev/null 2>&1 || true
    fi
  done
fi

if [ "$job" = test ] && ! have_pkg wine32:i386; then
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    install wine32:i386
  else
    echo "wine32:i386 left out: this machine cannot run 32-bit programs"
  fi
fi
