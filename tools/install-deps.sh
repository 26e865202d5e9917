#!/usr/bin/env bash
# Installs what the builds and the tests need, from Debian's packages. Safe to rerun.
# gcc-multilib is never installed: it removes the cross compilers. The guest tests
# (the framebuffer back-end, the threads) boot Debian's kernel in qemu-system-x86
# with an initramfs of busybox (cpio packs it, kmod's depmod and modprobe order
# the modules); they fetch the kernel package themselves and never install it.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang lld llvm llvm-14 dialog whiptail
  crossbuild-essential-i386 crossbuild-essential-armel g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  qemu-user binutils file strace
  python3 python3-pytest python3-pil
  tmux xvfb xauth xdotool x11-apps x11-utils xterm iproute2
  wine wine64 xclip yad zenity libx11-dev
  gzip unzip pngcheck libclang-rt-14-dev
  qemu-system-x86 busybox-static cpio kmod
  fonts-noto-mono fonts-dejavu-core xfonts-base xfonts-terminus
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
