#!/usr/bin/env bash
# Installs the Debian packages the build, the application and the test harness need.
# Idempotent: asks dpkg first and only calls apt when something is missing.
set -euo pipefail

PACKAGES=(
  # toolchain
  cmake g++ make pkg-config ninja-build openssl
  # Qt and coroutines
  qt6-base-dev qt6-base-private-dev qt6-websockets-dev qt6-httpserver-dev qcoro-qt6-dev qt6-qpa-plugins
  libgl-dev qt6-svg-dev
  # platform services
  libsecret-1-dev libglib2.0-dev libpulse-dev libsoxr-dev
  libx11-dev libx11-xcb-dev libxcb1-dev libxcb-xkb-dev libxcb-xtest0-dev libxcb-keysyms1-dev libxcb-shape0-dev libxcb-xfixes0-dev
  libxkbcommon-dev libxkbcommon-x11-dev libxtst-dev libatspi2.0-dev libdw-dev
  # fuzz targets: clang with its sanitizer and libFuzzer runtimes, llvm-symbolizer for reports
  clang libclang-rt-14-dev libfuzzer-14-dev llvm
  # benchmarks
  libbenchmark-dev python3
  # the test harness and the tools tests drive
  xvfb xauth x11-utils x11-xserver-utils xdotool xclip
  pulseaudio pulseaudio-utils sox
  dbus dbus-x11 gnome-keyring libsecret-tools libglib2.0-bin gsettings-desktop-schemas
  # the desktop's key-binding settings are written and read through dconf, as on a GNOME desktop
  dconf-gsettings-backend dconf-service
  at-spi2-core procps psmisc
  # interface suites: a window manager, a system tray, a font that covers Simplified Chinese
  openbox trayer fontconfig fonts-wqy-microhei
  # desktop integration: the desktop entry check, the Debian package (dpkg-shlibdeps)
  desktop-file-utils dpkg-dev
  # the Fcitx5 module that commits text into the focused input context: its headers, and for the
  # tests the input method framework itself with its Qt 6 input module
  libfcitx5core-dev libfcitx5utils-dev libfcitx5config-dev fcitx5-modules-dev fcitx5 fcitx5-frontend-qt6
  # Wayland sessions: the client library, wayland-scanner and the protocol descriptions (KWin's
  # fake input; the wlroots data-control and foreign-toplevel files happen to ship with the Rust
  # crate's sources); for the tests real compositors (sway, KWin), XWayland, Qt's Wayland platform
  # for a native target field, and wl-clipboard as an independent clipboard reader
  libwayland-dev libwayland-bin wayland-protocols plasma-wayland-protocols librust-wayland-protocols-dev
  sway kwin-wayland xwayland qt6-wayland wl-clipboard
  # Wayland sessions: the desktop portal, driven in tests through a mock GlobalShortcuts backend
  xdg-desktop-portal python3-dbusmock
  # GNOME under Wayland: its compositor, run headless (with XWayland) for the RemoteDesktop suite
  mutter
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
