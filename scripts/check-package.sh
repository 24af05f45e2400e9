#!/usr/bin/env bash
# The Debian ecosystem's own checks of a built qln package; fails on any complaint:
#   lintian                 no error and no warning (overrides only with a reason, see below)
#   desktop-file-validate   the menu entry
#   appstreamcli validate   the AppStream metadata, strictly (infos count too), without network
#   bash scripts/check-package.sh build-release/package/qln_<version>_<arch>.deb
set -euo pipefail
deb="$(readlink -f "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0

echo "== lintian $(basename "$deb")"
# Informational tags are printed but do not fail the package: Debian's own archive accepts them.
if ! lintian --fail-on error,warning --tag-display-limit 0 "$deb"; then
  failed=1
fi

dpkg-deb -x "$deb" "$work/root"
for desktop in "$work"/root/usr/share/applications/*.desktop; do
  [ -e "$desktop" ] || continue
  echo "== desktop-file-validate $(basename "$desktop")"
  # It prints nothing when it has nothing to say; hints count as complaints too.
  out="$(desktop-file-validate "$desktop" 2>&1)" || failed=1
  [ -z "$out" ] || { echo "$out"; failed=1; }
done
for metainfo in "$work"/root/usr/share/metainfo/*.xml; do
  [ -e "$metainfo" ] || continue
  echo "== appstreamcli validate $(basename "$metainfo")"
  # The component id follows the project's reserved contact domain, example.invalid, whose top
  # level the validator does not know as one; every other message fails the check.
  appstreamcli validate --no-net --strict --override=cid-maybe-not-rdns=pedantic "$metainfo" || failed=1
done

if [ "$failed" -ne 0 ]; then
  echo "check-package.sh: $(basename "$deb") has complaints (see above)" >&2
  exit 1
fi
echo "check-package.sh: $(basename "$deb") passes lintian, desktop-file-validate and appstreamcli"
