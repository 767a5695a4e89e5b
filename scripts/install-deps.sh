#!/usr/bin/env bash
# Installs every Debian package the project builds, runs and tests with.
# Idempotent: packages already present are skipped, and the package lists are
# refreshed only when something is missing.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config
  # signalling and media libraries
  libssl-dev portaudio19-dev libasound2-dev libgsm1-dev libsamplerate0-dev
  libspeex1 libspeex-dev libespeak-ng-dev espeak-ng-data
  # low-bitrate codecs and encrypted voice
  libbcg729-dev libopus-dev libsrtp2-dev
  # user interface
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-translations-l10n
  # the call journal (SQLite through Qt SQL)
  libqt6sql6-sqlite
  # the shop's shared till (PostgreSQL through Qt SQL) and its test clusters
  libqt6sql6-psql postgresql
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev clang
  sip-tester kamailio kamailio-tls-modules baresip xvfb xauth fonts-dejavu-core sox python3 time
  # a second independent user agent with a GRUU Contact
  linphone-cli
  # SIP over TLS: libssl for the agent, the openssl tool and ss for the tests
  libssl-dev openssl iproute2
  # the whole suite under a busy machine (scripts/test-under-load.sh)
  stress-ng
  libosip2-dev libsofia-sip-ua-dev
  # packaging: the .deb and its checks
  dpkg-dev file desktop-file-utils
  # receipts and the close checked as text
  poppler-utils
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
