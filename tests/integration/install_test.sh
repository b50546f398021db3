#!/usr/bin/env bash
# cmake --install puts the programs and the default registry in place, and a
# second install keeps the administrator's registry.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null
for file in usr/sbin/vlTRPrintQ usr/bin/vlTRReg usr/bin/vlTRsc \
            usr/share/vltrprintq/registry.reg.default etc/vltrprintq/registry.reg; do
  [[ -e "$dest/$file" ]] || fail "$file was not installed"
done
for dir in var/lib/vltrprintq var/log/vltrprintq; do
  [[ -d "$dest/$dir" ]] || fail "$dir was not created"
done
[[ $(stat -c %a "$dest/etc/vltrprintq/registry.reg") == 600 ]] || fail "registry.reg is not mode 0600"
grep -q '"Home"="/var/lib/vltrprintq"' "$dest/etc/vltrprintq/registry.reg" || fail "default Home missing"

echo '"LogLevel"=dword:00000005' >>"$dest/etc/vltrprintq/registry.reg"
DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null
grep -q 'dword:00000005' "$dest/etc/vltrprintq/registry.reg" || fail "reinstall replaced the registry"
