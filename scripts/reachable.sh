# Sourced by the entry scripts (test.sh, demo.sh) with "$@" of their caller:
# installs what is missing and, as root, makes sure the test user can reach
# the checkout. One below a private folder (such as /root) is mirrored to a
# folder it can read, and the calling script runs again from there.
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$HERE/scripts/bootstrap.sh"
if [ "$(id -u)" -eq 0 ] && [ -z "${KORVEX_MIRRORED:-}" ]; then
  korvex_user="${KORVEX_TEST_USER:-kvtest}"
  if ! setpriv --reuid="$korvex_user" --regid="$korvex_user" --init-groups test -r "$HERE/CMakeLists.txt"; then
    korvex_mirror=/var/tmp/korvex-src
    mkdir -p "$korvex_mirror"
    rsync -a --delete --exclude /build "$HERE/" "$korvex_mirror/"
    chmod -R go+rX "$korvex_mirror"
    KORVEX_MIRRORED=1 exec "$korvex_mirror/scripts/$(basename "$0")" "$@"
  fi
fi
