#!/usr/bin/env bash
# Builds the Debian packages velorix-setup and velorix-support-dev from
# debian/, the way a Debian maintainer does: scripts/package.sh [OUT_DIR]
#
# OUT_DIR (default build-package, relative to the top of the repository
# unless absolute) gets a copy of the source as it is, uncommitted edits
# included and build trees left out, in which dpkg-buildpackage -us -uc
# builds the source package and the binary packages (its log:
# OUT_DIR/build.log).  They end up in OUT_DIR/packages, with the .changes
# and .buildinfo.  Prints the path
# of the velorix-support-dev package, then that of velorix-setup on the last
# line.  Meanwhile it says on standard error which phase the build is in,
# with the compile's percentage (see progress.sh).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/progress.sh"
"$root/scripts/install-deps.sh" package || exit 1
out=${1:-build-package}
[ "${out#/}" != "$out" ] || out="$root/$out"
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version) || exit 1
source="$out/source/velorix-setup-$version"
log="$out/build.log"
rm -rf "$out/source" "$out/packages"
mkdir -p "$source" "$out/packages" || exit 1
: >"$log"

excludes=(--exclude-vcs --anchored --exclude='./build*' --exclude=./artifacts --exclude='./obj-*')
[ "${out#"$root"/}" = "$out" ] || excludes+=("--exclude=./${out#"$root"/}")
tar -C "$root" "${excludes[@]}" -cf - . | tar -C "$source" -xf - ||
  { echo "package.sh: cannot copy the source to $source" >&2; exit 1; }

# The copy lies inside this checkout: git must not describe the checkout
# as the copy's, so that the packages say the version of debian/changelog,
# as they do when built from the source package alone.
if ! progress_run package.sh "$log" "building the packages in $out" \
    env -C "$source" GIT_CEILING_DIRECTORIES="$out/source" dpkg-buildpackage -us -uc -J"$(nproc)"
then
  tail -n 60 "$log" >&2
  echo "package.sh: dpkg-buildpackage failed; the whole log is $log" >&2
  exit 1
fi
mv "$out/source"/*.dsc "$out/source"/*.tar.* "$out/source"/*.deb "$out/source"/*.changes \
  "$out/source"/*.buildinfo "$out/packages"/ || exit 1

arch=$(dpkg-architecture -qDEB_HOST_ARCH)
dev="$out/packages/velorix-support-dev_${version}_$arch.deb"
setup="$out/packages/velorix-setup_${version}_$arch.deb"
if [ ! -f "$dev" ] || [ ! -f "$setup" ]; then
  echo "package.sh: dpkg-buildpackage made no velorix-setup or velorix-support-dev package" >&2
  exit 1
fi
echo "$dev"
echo "$setup"
