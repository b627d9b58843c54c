#!/usr/bin/env bash
# Installs a configured and built tree (cmake --install) into its prefix, with sudo only when not
# root and the prefix cannot be written. Remembers the directories the install creates, so that
# scripts/uninstall-app.sh removes exactly what was installed.
# Usage: scripts/install-app.sh BUILD_DIR [PREFIX]      (PREFIX: the one the tree was configured with)
set -euo pipefail

build=$1
prefix=${2:-$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")}
[ -n "$prefix" ] || { echo "install: no prefix for $build" >&2; exit 1; }

# The nearest directory that exists decides whether we may write.
existing=$prefix
while [ ! -d "$existing" ]; do existing=$(dirname "$existing"); done
SUDO=()
if [ "$(id -u)" -ne 0 ] && [ ! -w "$existing" ]; then SUDO=(sudo); fi

# Directories the installed files will live in that do not exist yet (deepest last); the Fcitx5
# module's as the build found them in Fcitx5's own layout.
dirs_file="$build/install_dirs.txt"
new_dirs=()
fcitx5_dirs=()
for key in MURLEX_FCITX5_ADDON_LIBDIR MURLEX_FCITX5_ADDON_CONFDIR; do
  rel=$(sed -n "s/^$key:INTERNAL=//p" "$build/CMakeCache.txt")
  if [ -n "$rel" ]; then fcitx5_dirs+=("$prefix/$rel"); fi
done
for dir in "$prefix/bin" "$prefix/share/applications" "$prefix/share/icons/hicolor/scalable/apps" "${fcitx5_dirs[@]}"; do
  while [ ! -d "$dir" ] && [ "$dir" != "/" ]; do
    new_dirs+=("$dir")
    dir=$(dirname "$dir")
  done
done

"${SUDO[@]}" cmake --install "$build" --prefix "$prefix"
printf '%s\n' "${new_dirs[@]}" | sort -u > "$dirs_file"
echo "Murlex installed under $prefix (make uninstall removes it)."
