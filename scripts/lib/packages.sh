# install_missing_packages PACKAGE...: installs with apt-get whichever of the Debian
# packages are not installed yet (as root, or through sudo). TALLOW_SKIP_APT=1 skips it.
install_missing_packages() {
  [[ ${TALLOW_SKIP_APT:-0} == 1 ]] && return 0
  local missing=() package sudo=()
  for package in "$@"; do
    dpkg -s "$package" 2>/dev/null | grep -qx 'Status: install ok installed' || missing+=("$package")
  done
  ((${#missing[@]} == 0)) && return 0
  echo "installing: ${missing[*]}"
  if ((EUID != 0)); then
    command -v sudo >/dev/null || { echo "not root and no sudo: cannot install ${missing[*]}" >&2; return 1; }
    sudo=(sudo)
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o Acquire::Retries=3 update -q ||
    echo "apt-get update failed; trying the install with the lists at hand" >&2
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get -o Acquire::Retries=3 install -y -q --no-install-recommends "${missing[@]}"
}
