#!/usr/bin/env bash
# The version lives in one place, the project() line of CMakeLists.txt: lirenta-console
# --version prints it, the Debian package and its file name carry it (CPack's configuration),
# and the top entry of data/changelog names it.
set -euo pipefail
build=$1 source=$2

fail() { echo "FAIL: $*" >&2; exit 1; }

version=$(sed -nE 's/^project\(Lirenta VERSION ([^ )]+).*/\1/p' "$source/CMakeLists.txt")
[ -n "$version" ] || fail "no version in the project() line of $source/CMakeLists.txt"

printed=$("$build/bin/lirenta-console" --version) || fail "lirenta-console --version failed"
[ "$printed" = "lirenta-console $version" ] ||
  fail "lirenta-console --version prints '$printed', the project is $version"

cpack_config=$build/CPackConfig.cmake
[ -f "$cpack_config" ] || fail "$cpack_config is missing"
cpack() { sed -nE "s/^set\\($1 \"([^\"]*)\"\\)$/\\1/p" "$cpack_config"; }
packaged=$(cpack CPACK_PACKAGE_VERSION)
[ "$packaged" = "$version" ] || fail "the package's version is '$packaged', the project is $version"
debian=$(cpack CPACK_DEBIAN_PACKAGE_VERSION)
[ -z "$debian" ] || [ "$debian" = "$version" ] ||
  fail "CPACK_DEBIAN_PACKAGE_VERSION is '$debian', the project is $version"
[ "$(cpack CPACK_DEBIAN_FILE_NAME)" = DEB-DEFAULT ] ||
  fail "the package's file name is not Debian's default, lirenta_VERSION_ARCH.deb"

changelog=$(dpkg-parsechangelog -l "$source/data/changelog" -S Version) ||
  fail "dpkg-parsechangelog cannot read $source/data/changelog"
[ "$changelog" = "$version" ] ||
  fail "the top entry of data/changelog is $changelog, the project is $version"
echo "version $version in --version, the package and the changelog"
