#!/usr/bin/env bash
# The .deb as a user gets it: CPack packs this build tree into a temporary folder, dpkg-deb
# unpacks the package into a temporary root, and everything is checked there: the files and
# their modes, the control fields, the menu entry, qln-cli running from the unpacked root, and the
# starter qln-desktop preparing a program folder.
#   PackageTest.sh CPACK BUILD_DIR SOURCE_DIR VERSION UI(0|1)
# Exit status 77 (skipped) only when cpack or dpkg-deb is missing.
set -euo pipefail
cpack="$1" build="$2" source="$3" version="$4" ui="$5"

if [ ! -x "$cpack" ] || ! command -v dpkg-deb > /dev/null || ! command -v dpkg > /dev/null; then
  echo "SKIP: cpack or dpkg-deb is missing; the Debian package cannot be built here"
  exit 77
fi
if ! command -v dpkg-shlibdeps > /dev/null; then
  echo "FAIL: dpkg-shlibdeps is missing: install dpkg-dev (scripts/setup.sh does)" >&2
  exit 1
fi

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" -G DEB > "$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack could not build the package" >&2
  exit 1
fi
shopt -s nullglob
debs=("$work"/out/*.deb)
shopt -u nullglob
if [ "${#debs[@]}" -ne 1 ]; then
  echo "FAIL: expected one .deb, found ${#debs[@]}" >&2
  exit 1
fi
deb="${debs[0]}"
arch="$(dpkg --print-architecture)"
[ "$(basename "$deb")" = "qln_${version}_${arch}.deb" ] || fail "package file is $(basename "$deb")"

# ---- control fields ------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = "qln" ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', the project's is $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
depends="$(field Depends)"
needed=(libc6 libstdc++6)
[ "$ui" = 1 ] && needed+=(libqt6core6 libqt6gui6 libqt6widgets6 libqt6printsupport6 qt6-qpa-plugins)
for p in "${needed[@]}"; do
  # A package name in the comma-separated list, with or without a version.
  printf '%s\n' "$depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qx "$p" ||
    fail "Depends lacks $p: $depends"
done

# ---- files --------------------------------------------------------------------------------
root="$work/root"
dpkg-deb -x "$deb" "$root"
programs=(usr/bin/qln-cli usr/bin/qln-valve)
files=(usr/share/qln/QLN.HLP usr/share/qln/de/QLN.HLP usr/share/qln/de/Lang_dll.DLL
  usr/share/doc/qln/README.Debian usr/share/doc/qln/copyright usr/share/doc/qln/changelog.gz
  usr/share/bash-completion/completions/qln-cli
  usr/share/man/man1/qln-cli.1.gz usr/share/man/man1/qln-valve.1.gz)
if [ "$ui" = 1 ]; then
  programs+=(usr/bin/qln usr/bin/qln-desktop usr/bin/qln-print)
  files+=(usr/share/applications/qln.desktop usr/share/icons/hicolor/scalable/apps/qln.svg
    usr/share/metainfo/invalid.example.qln.metainfo.xml
    usr/share/man/man1/qln.1.gz usr/share/man/man1/qln-print.1.gz usr/share/man/man1/qln-desktop.1.gz)
fi
for f in "${programs[@]}"; do
  [ -f "$root/$f" ] && [ -x "$root/$f" ] || fail "$f is missing or not executable"
done
for f in "${files[@]}"; do
  [ -f "$root/$f" ] || fail "$f is missing"
  [ ! -x "$root/$f" ] || fail "$f is executable"
done
# The packaged texts are the ones in the sources, not stale copies.
cmp -s "$root/usr/share/qln/QLN.HLP" "$source/docs/QLN.HLP" || fail "usr/share/qln/QLN.HLP differs from docs/"
cmp -s "$root/usr/share/qln/de/QLN.HLP" "$source/lang/de/QLN.HLP" || fail "German QLN.HLP differs from lang/de/"
cmp -s "$root/usr/share/qln/de/Lang_dll.DLL" "$source/lang/de/Lang_dll.DLL" ||
  fail "Lang_dll.DLL differs from lang/de/"
# Every program says the package's version, and so do the changelog and the release notes.
for f in "${programs[@]}"; do
  name="$(basename "$f")"
  [ "$name" = qln-desktop ] && continue
  said="$("$root/$f" --version 2>&1)"
  [ "$said" = "$name $version" ] || fail "$name --version says '$said', the package is $version"
done
changelog_version="$(zcat "$root/usr/share/doc/qln/changelog.gz" | sed -n '1s/^qln (\([^)]*\)).*/\1/p')"
[ "$changelog_version" = "$version" ] || fail "the changelog's newest entry is '$changelog_version'"
if [ "$ui" = 1 ]; then
  release="$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$root"/usr/share/metainfo/*.xml | head -n 1)"
  [ "$release" = "$version" ] || fail "the AppStream metadata's newest release is '$release'"
fi
# The manual pages are whole pages that name their program.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  name="$(basename "$page" .1.gz)"
  zcat "$page" | grep -q "^\.TH \"\?${name^^}\"\? " || fail "$(basename "$page") is no manual page of $name"
done
zcat "$root/usr/share/man/man1/qln-cli.1.gz" | grep -q 'read\\-params' || fail "qln-cli.1 lacks the commands"

# Nothing outside /usr (a package must not put files into /usr/local, /etc or /opt).
outside="$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name usr)"
[ -z "$outside" ] || fail "files outside /usr: $outside"
[ ! -e "$root/usr/local" ] || fail "files under /usr/local"

# ---- menu entry and icon ------------------------------------------------------------------
if [ "$ui" = 1 ]; then
  desktop="$root/usr/share/applications/qln.desktop"
  key() { sed -n "s/^$1=//p" "$desktop"; }
  [ "$(head -n 1 "$desktop")" = "[Desktop Entry]" ] || fail "qln.desktop does not begin with [Desktop Entry]"
  [ "$(key Type)" = "Application" ] || fail "qln.desktop: Type is '$(key Type)'"
  [ -n "$(key Name)" ] || fail "qln.desktop has no Name"
  exec_program="$(key Exec | cut -d' ' -f1)"
  [ -x "$root/usr/bin/$exec_program" ] || fail "qln.desktop starts '$exec_program', which the package lacks"
  [ -f "$root/usr/share/icons/hicolor/scalable/apps/$(key Icon).svg" ] ||
    fail "qln.desktop names the icon '$(key Icon)', which the package lacks"
  svg="$root/usr/share/icons/hicolor/scalable/apps/qln.svg"
  grep -q '<svg ' "$svg" && [ "$(tail -n 1 "$svg")" = "</svg>" ] || fail "qln.svg is not a whole SVG image"
fi

# ---- qln-cli from the unpacked root -------------------------------------------------------
mkdir "$work/folder"
if (cd "$work/folder" && "$root/usr/bin/qln-cli" --test-mode info > "$work/info.out" 2> "$work/info.err"); then
  for label in "Controller Firmware:" "Part Number:" "Serial No.:"; do
    grep -q "^$label" "$work/info.out" || fail "qln-cli info printed no '$label' line"
  done
else
  fail "qln-cli --test-mode info from the unpacked root failed: $(cat "$work/info.err")"
fi

# ---- the starter: a program folder of the user's own, with the help file --------------------
if [ "$ui" = 1 ]; then
  # qln itself needs a display; a stand-in tells where and how it was started.
  cat > "$root/usr/bin/qln" <<'STUB'
#!/usr/bin/env bash
printf '%s\n' "$PWD" "$@"
STUB
  chmod +x "$root/usr/bin/qln"
  home="$work/home"
  mkdir "$home"
  if HOME="$home" QLN_HOME= "$root/usr/bin/qln-desktop" -LOG -CAL > "$work/start.out" 2>&1; then
    [ "$(sed -n 1p "$work/start.out")" = "$home/qln" ] ||
      fail "qln-desktop started qln in '$(sed -n 1p "$work/start.out")', not $home/qln"
    [ "$(sed -n '2,$p' "$work/start.out" | tr '\n' ' ')" = "-LOG -CAL " ] ||
      fail "qln-desktop handed on '$(sed -n '2,$p' "$work/start.out" | tr '\n' ' ')'"
    cmp -s "$home/qln/QLN.HLP" "$source/docs/QLN.HLP" || fail "qln-desktop did not copy QLN.HLP"
    leftovers="$(find "$home/qln" -name 'QLN.HLP.*')"
    [ -z "$leftovers" ] || fail "qln-desktop left $leftovers"
  else
    fail "qln-desktop failed: $(cat "$work/start.out")"
  fi
  # The user's own help file (a translation) stays.
  echo "eigene Hilfe" > "$home/qln/QLN.HLP"
  HOME="$home" "$root/usr/bin/qln-desktop" > /dev/null 2>&1 || fail "qln-desktop failed on its second start"
  [ "$(cat "$home/qln/QLN.HLP")" = "eigene Hilfe" ] || fail "qln-desktop replaced the user's QLN.HLP"
  # QLN_HOME chooses the folder.
  other="$work/other folder"
  if HOME="$home" QLN_HOME="$other" "$root/usr/bin/qln-desktop" > "$work/start2.out" 2>&1; then
    [ "$(sed -n 1p "$work/start2.out")" = "$other" ] || fail "qln-desktop ignored QLN_HOME"
    [ -f "$other/QLN.HLP" ] || fail "qln-desktop did not copy QLN.HLP into QLN_HOME"
  else
    fail "qln-desktop with QLN_HOME failed: $(cat "$work/start2.out")"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) of $(basename "$deb") failed" >&2
  exit 1
fi
echo "$(basename "$deb"): files, control fields, menu entry, qln-cli and qln-desktop checked"
