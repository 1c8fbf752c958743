#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from a build folder with CPack and checks it as a distribution would:
# lintian reports no error, the AppStream metadata validates, both manual pages render, every option
# that `veld --help` lists is in veld(1), nothing installed names a placeholder address, and the package
# unpacked into a scratch root runs: veld --help, man veld, and the bash completion of "veld ex".
#
#   tests/package/check_package.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(realpath "$1")
source_dir=$(realpath "$2")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check_package: FAILED: $*" >&2; exit 1; }

echo "== package =="
rm -f "$build"/veld_*.deb
(cd "$build" && cpack -G DEB -B "$scratch/cpack" >/dev/null)
deb=$(ls "$scratch"/cpack/veld_*.deb)
dpkg-deb --contents "$deb" | awk '{print $6}' | sort > "$scratch/contents"
for f in ./usr/bin/veld ./usr/bin/veld-gui ./usr/share/applications/veld-gui.desktop \
         ./usr/share/metainfo/org.veldproject.veld.metainfo.xml ./usr/share/man/man1/veld.1.gz \
         ./usr/share/man/man1/veld-gui.1.gz ./usr/share/bash-completion/completions/veld \
         ./usr/share/doc/veld/copyright ./usr/share/doc/veld/changelog.Debian.gz; do
  grep -qxF "$f" "$scratch/contents" || fail "the package lacks $f"
done
echo "package holds every file"

echo "== lintian =="
# Errors fail the check; the warnings left are listed in the output.
lintian --no-tag-display-limit "$deb" | tee "$scratch/lintian" || true
if grep -q '^E:' "$scratch/lintian"; then fail "lintian reports errors"; fi

echo "== unpack into a scratch root =="
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.veldproject.veld.metainfo.xml"
desktop-file-validate "$root/usr/share/applications/veld-gui.desktop"
if grep -rIl -E 'example\.(org|com)' "$root" "$deb" >/dev/null 2>&1 ||
   grep -rl -a -E 'example\.(org|com)' "$root" >/dev/null 2>&1; then
  fail "an installed file names a placeholder address: $(grep -rl -a -E 'example\.(org|com)' "$root" | head -3)"
fi
echo "no placeholder address installed"

"$root/usr/bin/veld" --help >/dev/null
"$root/usr/bin/veld" --version | grep -q 'GPL-3.0-or-later' || fail "veld --version does not name the licence"
for page in veld veld-gui; do
  MANPATH="$root/usr/share/man" MANWIDTH=100 man "$page" > "$scratch/$page.txt" 2>"$scratch/man.err" ||
    fail "man $page: $(cat "$scratch/man.err")"
  man -l "$root/usr/share/man/man1/$page.1.gz" >/dev/null 2>&1 || fail "man -l $page.1.gz"
  grep -q NAME "$scratch/$page.txt" || fail "man $page renders no NAME section"
done
echo "both manual pages render"

echo "== every option of veld --help is in veld(1) =="
missing=""
for command in "" extract replace show check undo; do
  # shellcheck disable=SC2086
  help=$("$root/usr/bin/veld" $command --help 2>/dev/null) || continue
  for option in $(grep -oE -- '--[a-z][a-z-]+' <<<"$help" | sort -u); do
    grep -qF -- "$option" "$scratch/veld.txt" || missing+=" ${command:-veld} $option"
  done
done
[ -z "$missing" ] || fail "veld(1) does not describe:$missing"
echo "veld(1) describes every option"

echo "== bash completion =="
completion=$(bash --norc --noprofile -c '
  source /usr/share/bash-completion/bash_completion
  source "$1/usr/share/bash-completion/completions/veld"
  COMP_WORDS=(veld ex); COMP_CWORD=1; COMP_LINE="veld ex"; COMP_POINT=${#COMP_LINE}
  _veld veld ex veld
  echo "${COMPREPLY[*]}"' _ "$root")
[ "$completion" = extract ] || fail "veld ex completes to '$completion', not 'extract'"
echo "veld ex completes to veld extract"
echo "check_package: OK"
