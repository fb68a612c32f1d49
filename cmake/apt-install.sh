# Sourced by the install-deps scripts: apt_install PACKAGE... installs Debian
# packages, through sudo when not run as root.
apt_install() {
  local sudo=
  if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
  fi
  $sudo apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@"
}
