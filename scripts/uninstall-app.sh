#!/usr/bin/env bash
# Removes what scripts/install-app.sh installed from BUILD_DIR: the files cmake listed in its
# install manifest, then the directories that install created, when they are empty again.
# Usage: scripts/uninstall-app.sh BUILD_DIR
set -euo pipefail

build=$1
manifest="$build/install_manifest.txt"
[ -f "$manifest" ] || { echo "uninstall: nothing installed from $build (no $manifest)" >&2; exit 1; }

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  while IFS= read -r file || [ -n "$file" ]; do
    [ -n "$file" ] || continue
    if [ ! -w "$(dirname "$file")" ]; then SUDO=(sudo); break; fi
  done < "$manifest"
fi

while IFS= read -r file || [ -n "$file" ]; do
  [ -n "$file" ] || continue
  if [ -e "$file" ] || [ -L "$file" ]; then "${SUDO[@]}" rm -f -- "$file"; fi
done < "$manifest"

if [ -f "$build/install_dirs.txt" ]; then
  # Deepest first, and only when nothing else was put there meanwhile.
  sort -r "$build/install_dirs.txt" | while IFS= read -r dir; do
    [ -n "$dir" ] && [ -d "$dir" ] && "${SUDO[@]}" rmdir -- "$dir" 2>/dev/null || true
  done
  rm -f "$build/install_dirs.txt"
fi
rm -f "$manifest"
echo "Murlex removed."
