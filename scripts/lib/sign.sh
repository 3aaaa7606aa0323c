#!/usr/bin/env bash
# Authenticode signing of the Windows programs and installers, with osslsigncode: the one
# place that knows how. The certificate and its key are PEM files named by two variables:
#
#   TALLOW_SIGN_CERT=cert.pem TALLOW_SIGN_KEY=key.pem     (both, or neither)
#
# Sourced (scripts/package):
#   sign_requested      0 when both are given (and exports them as absolute paths), 1
#                       when neither is; a half-given pair or a missing file ends the
#                       script with status 2
#   sign_file IN OUT    writes OUT, a signed copy of IN
#   sign_in_place FILE...
#
# Run, as CPack's step before packing and makensis's !finalize and !uninstfinalize do:
#   scripts/lib/sign.sh FILE...   signs each in place when the variables are given, and
#                                 does nothing when neither is

SIGN_NAME=tallowmere-tray   # the description Windows shows in its consent prompt

sign_requested() {
  local cert=${TALLOW_SIGN_CERT:-} key=${TALLOW_SIGN_KEY:-} file
  [[ -z $cert && -z $key ]] && return 1
  if [[ -z $cert || -z $key ]]; then
    echo "signing: give both TALLOW_SIGN_CERT and TALLOW_SIGN_KEY, or neither" >&2
    exit 2
  fi
  for file in "$cert" "$key"; do
    [[ -f $file && -r $file ]] || { echo "signing: no readable file $file" >&2; exit 2; }
  done
  # As absolute paths: makensis and CPack's steps run in directories of their own.
  TALLOW_SIGN_CERT=$(realpath "$cert") TALLOW_SIGN_KEY=$(realpath "$key")
  export TALLOW_SIGN_CERT TALLOW_SIGN_KEY
}

# sign_present FILE: FILE carries a signature (whether it holds or not).
sign_present() {
  local out status=0
  out=$(mktemp -u)   # osslsigncode writes no file that exists
  osslsigncode extract-signature -in "$1" -out "$out" >/dev/null 2>&1 || status=$?
  rm -f "$out"
  return "$status"
}

sign_file() {
  # osslsigncode would sign a signed file again, nesting ours inside: we sign once.
  if sign_present "$1"; then
    echo "signing: $1 is already signed" >&2
    return 1
  fi
  local log
  log=$(osslsigncode sign -certs "$TALLOW_SIGN_CERT" -key "$TALLOW_SIGN_KEY" -h sha256 \
    -n "$SIGN_NAME" -in "$1" -out "$2" 2>&1) || {
    rm -f "$2"
    printf 'signing %s failed:\n%s\n' "$1" "$log" >&2
    return 1
  }
}

sign_in_place() {
  local file
  for file in "$@"; do
    sign_file "$file" "$file.signing" && mv -f "$file.signing" "$file" || return 1
  done
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  set -euo pipefail
  if sign_requested; then
    sign_in_place "$@"
  fi
fi
