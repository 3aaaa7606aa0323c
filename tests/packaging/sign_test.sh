#!/usr/bin/env bash
# The Windows packages, the NSIS installer and the MSI, signed with a throwaway
# code-signing certificate, and not signed without one:
#
#   tests/packaging/sign_test.sh BUILD_DIR
#
# BUILD_DIR is the Windows build (build/windows). Both packages are made by
# scripts/package in the work directory, so BUILD_DIR/packages stays as it was; the signed
# one carries a copy of the stand-in agent, which is not ours to sign. Both are installed
# under Wine, into two directories of a throwaway prefix: the uninstaller exists only once
# the installer has written it. The MSI's files are read from it with msiextract and
# msiinfo. Uses DISPLAY when it is set, else starts its own Xvfb.
set -euo pipefail

BUILD=$(cd "${1:?usage: sign_test.sh BUILD_DIR}" && pwd)
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/checks.sh"
# shellcheck source=../../scripts/lib/wine-desktop.sh
source "$HERE/../../scripts/lib/wine-desktop.sh"

TRAY=$BUILD/bin/tallowmere-tray.exe
STAND_IN=$BUILD/bin/tallowmered.exe
[[ -f $TRAY && -f $STAND_IN ]] || die "$BUILD is not a built Windows tree"
OUT=${TALLOW_PACKAGING_OUT:-$BUILD/../test-logs/packaging}
mkdir -p "$OUT"
CHECK_LOG=$(cd "$OUT" && pwd)/sign-checks.log
: >"$CHECK_LOG"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tallow-sign.XXXXXX")

end_with_test

CERT=$WORK/cert.pem KEY=$WORK/key.pem
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -keyout "$KEY" -out "$CERT" \
  -subj "/CN=tallowmere test code signing" -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" -addext "basicConstraints=critical,CA:FALSE" \
  >"$WORK/openssl.log" 2>&1 || die "no certificate: $(tail -n 5 "$WORK/openssl.log")"

# package VARIABLE=VALUE...: scripts/package windows (or $KIND) with only these signing
# variables.
package() { env -u TALLOW_SIGN_CERT -u TALLOW_SIGN_KEY "$@" "$HERE/../../scripts/package" "${KIND:-windows}"; }

# ---------------------------------------------------------------------------
# 1. Half a certificate is refused, before anything is built
# ---------------------------------------------------------------------------
while IFS='|' read -r name given; do
  status=0
  rm -rf "$WORK/refused"
  # shellcheck disable=SC2086 # the assignments, one word each
  package $given TALLOW_PACKAGE_OUT="$WORK/refused" >"$WORK/refused.log" 2>&1 || status=$?
  check_eq "refused with status 2 and a reason: $name" \
    "$status $(grep -c '^signing: ' "$WORK/refused.log") $(test -e "$WORK/refused" && echo made)" "2 1 "
done <<EOF
only a certificate|TALLOW_SIGN_CERT=$CERT
only a key|TALLOW_SIGN_KEY=$KEY
a key that is not there|TALLOW_SIGN_CERT=$CERT TALLOW_SIGN_KEY=$WORK/none.pem
EOF

# ---------------------------------------------------------------------------
# 2. A signed package with an agent, and one without a certificate
# ---------------------------------------------------------------------------
mkdir -p "$WORK/agent"
cp "$STAND_IN" "$WORK/agent/tallowmered.exe"
built_tray=$(sha256sum <"$TRAY")
make_package() { package "${@:2}" TALLOW_PACKAGE_OUT="$WORK/$1" >"$WORK/$1.log" 2>&1; }
check "makes the signed package" make_package signed \
  TALLOW_SIGN_CERT="$CERT" TALLOW_SIGN_KEY="$KEY" TALLOW_AGENT_EXE="$WORK/agent/tallowmered.exe"
check "makes the package without a certificate" make_package unsigned
check_eq "says that nothing is signed once, and only without a certificate" \
  "$(grep -c 'nothing is signed' "$WORK/signed.log") $(grep -c 'nothing is signed' "$WORK/unsigned.log")" "0 1"
check_eq "the build's tray is left as it was built" "$(sha256sum <"$TRAY")" "$built_tray"
SIGNED=$(ls "$WORK"/signed/*-setup.exe 2>/dev/null) || die "no signed package: $(tail -n 20 "$WORK/signed.log")"
UNSIGNED=$(ls "$WORK"/unsigned/*-setup.exe 2>/dev/null) || die "no unsigned package"
KIND=msi check "makes the signed MSI" make_package signed-msi \
  TALLOW_SIGN_CERT="$CERT" TALLOW_SIGN_KEY="$KEY" TALLOW_AGENT_EXE="$WORK/agent/tallowmered.exe"
SIGNED_MSI=$(ls "$WORK"/signed-msi/*.msi 2>/dev/null) || die "no signed MSI: $(tail -n 20 "$WORK/signed-msi.log")"
M=$WORK/msi-files
mkdir -p "$M"
msiextract -C "$M" "$SIGNED_MSI" >/dev/null
msiinfo extract "$SIGNED_MSI" Binary.TrayCloser >"$M/end_running_trays.exe"

enter_wine_world
install_into() { win "$1" /S "/D=$2" >>"$WORK/installer.log" 2>&1; }
check "installs the signed package" install_into "$SIGNED" 'C:\signed'
check "installs the package without a certificate" install_into "$UNSIGNED" 'C:\unsigned'
C=$WINEPREFIX/drive_c

# ---------------------------------------------------------------------------
# 3. What is signed, and what is not
# ---------------------------------------------------------------------------
holds() { osslsigncode verify -CAfile "$CERT" -in "$1"; }
# A copy with the byte in the middle of the file inverted: the programs' code, the
# installer's packed files. (The PE checksum and the padding after the signature are
# not covered by it, and a change there would still verify.)
changed_copy() {
  local at byte
  at=$(($(stat -c %s "$1") / 2))
  byte=$(od -An -tu1 -j "$at" -N1 "$1" | tr -d ' ')
  cp "$1" "$WORK/changed"
  printf '%b' "\\0$(printf '%03o' $((byte ^ 255)))" | dd of="$WORK/changed" bs=1 seek="$at" conv=notrunc status=none
  echo "$WORK/changed"
}
refused() {
  local said
  said=$(holds "$1" 2>&1) && return 1
  grep -q MISMATCH <<<"$said"
}
unsigned() { test -f "$1" && ! osslsigncode extract-signature -in "$1" -out "$WORK/signature.$RANDOM"; }

while IFS='|' read -r name file want; do
  case $want in
    signed)
      check "$name: signed with the certificate given" holds "$file"
      check "$name: one byte changed after signing is refused" refused "$(changed_copy "$file")"
      ;;
    unsigned) check "$name: not signed" unsigned "$file" ;;
    *) check "$name: packed as given" cmp "$file" "$want" ;;
  esac
done <<EOF
the signed installer|$SIGNED|signed
its tray|$C/signed/tallowmere-tray.exe|signed
its uninstaller|$C/signed/Uninstall.exe|signed
its agent|$C/signed/tallowmered.exe|$WORK/agent/tallowmered.exe
the build's tray|$TRAY|unsigned
the installer made without a certificate|$UNSIGNED|unsigned
its tray|$C/unsigned/tallowmere-tray.exe|unsigned
its uninstaller|$C/unsigned/Uninstall.exe|unsigned
the signed MSI|$SIGNED_MSI|signed
its tray|$M/tallowmere/tallowmere-tray.exe|signed
the helper it runs to end trays|$M/end_running_trays.exe|signed
its agent|$M/tallowmere/tallowmered.exe|$WORK/agent/tallowmered.exe
the build's helper|$BUILD/bin/end_running_trays.exe|unsigned
EOF

finish sign_test
