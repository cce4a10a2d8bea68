#!/usr/bin/env bash
# The Windows Installer package of one build, end to end in a fresh Wine prefix
# of that build's kind:
#   - it refuses to install where Outlook says it is of the other bitness,
#     with the message that names the other package;
#   - msiexec /i /qn installs it, with no administrator step: the add-in's
#     files under the user's own profile, its registration under HKCU;
#   - the stand-in Outlook runs a whole mailing with the add-in as the package
#     registered it (no regsvr32), loading the DLL from the installed folder;
#   - msiexec /x /qn takes away every key, value, file and folder it wrote;
#   - what it registers is what regsvr32 of the same DLL writes, in the
#     per-user form;
#   - x64 only: on 32-bit Windows it does not install at all.
# Usage: tests/addin/check_installer.sh x86|x64 [PACKAGE.msi]
#   PACKAGE.msi  the package to check; by default one is made from the build
#                as scripts/package makes it
# LETTERCAST_BUILD_DIR names the 32-bit build's folder (default build/); the
# 64-bit build is its x64 folder.
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
usage() { echo "usage: check_installer.sh x86|x64 [PACKAGE.msi]" >&2; exit 2; }
[ $# -ge 1 ] && [ $# -le 2 ] || usage
arch=$1
case $arch in
  x86) other=x64 bits=32 other_bits=64 ;;
  x64) other=x86 bits=64 other_bits=32 ;;
  *) usage ;;
esac
build=${LETTERCAST_BUILD_DIR:-$top/build}
for tool in wixl msiinfo msiextract python3 wine; do
  command -v "$tool" >/dev/null || { echo "FAILED: $tool is missing"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/lettercast-installer-test.XXXXXX")
prefixes=()
cleanup() {
  local p
  for p in "${prefixes[@]}"; do WINEPREFIX=$p wineserver -k </dev/null >/dev/null 2>&1; done
  wait
  rm -rf "$work"
}
trap cleanup EXIT

fail=0
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi; }
# A check on a set of lines that must be empty; the lines are shown when not.
check_none() {   # check_none DESCRIPTION FILE
  if [ -s "$2" ]; then echo "FAILED: $1:"; sed 's/^/    /' "$2"; fail=1; else echo "ok: $1"; fi
}
winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }

source "$top/scripts/lib/package.sh"
msi=${2:-}
if [ -z "$msi" ]; then
  msi=$work/Lettercast-$arch.msi
  lc_package_msi "$build" "$arch" "$msi" || { echo "FAILED: the $arch package could not be made"; exit 1; }
else
  [ -f "$msi" ] || { echo "check_installer.sh: no such package: $msi" >&2; exit 2; }
  msi=$(realpath "$msi")
fi

# --- The package's tables -------------------------------------------------
table() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
property() { table Property | awk -F'\t' -v p="$1" '$1 == p { print $2 }'; }
check "ProductVersion is the build's version ($(lc_package_version))" test "$(property ProductVersion)" = "$(lc_package_version)"
check "ProductName is Lettercast ($arch)" test "$(property ProductName)" = "Lettercast ($arch)"
check "Manufacturer is Vostel Software" test "$(property Manufacturer)" = "Vostel Software"
check "ALLUSERS is 2 and MSIINSTALLPERUSER 1" test "$(property ALLUSERS),$(property MSIINSTALLPERUSER)" = "2,1"
summary=$(msiinfo suminfo "$msi")
case $arch in x86) platform=Intel ;; x64) platform=x64 ;; esac
check "the package is for the $platform platform" grep -qx "Template: $platform;1033" <<<"$summary"
# Word count bit 8: installing needs no elevated privileges (no UAC prompt).
source_flags=$(sed -n 's/^Source: \([0-9]*\).*/\1/p' <<<"$summary")
check "the package asks for no administrator rights" test $(( ${source_flags:-0} & 8 )) -eq 8
table Component | awk -F'\t' '{ print $1 "\t" $6 }' | sort >"$work/keypaths"
table Registry | awk -F'\t' '{ print $1 "\t" $2 }' | sort >"$work/registry-roots"
not_hkcu=$(join -t $'\t' -1 2 -2 1 -a 1 <(sort -t $'\t' -k2,2 "$work/keypaths") "$work/registry-roots" |
           awk -F'\t' '$3 != "1" { print $2 }')
check "every component's key path is an HKCU registry value ($(wc -l <"$work/keypaths") components)" test -z "$not_hkcu"
check "the package writes nothing outside HKCU" test -z "$(table Registry | awk -F'\t' '$2 != "1"')"
msiextract -C "$work/extract" "$msi" >/dev/null
extracted=$work/extract/Programs/Lettercast/$arch
for f in Pigeonflight_ATL.dll Lettercast.chm SampleTo.txt; do
  check "the package holds Programs\\Lettercast\\$arch\\$f" test -f "$extracted/$f"
done

# --- Wine prefixes ----------------------------------------------------------
# Each registry snapshot is the prefix's user.reg (HKCU) and system.reg (HKLM)
# as sorted entries, "[key]" for a key without values and "[key]<TAB>value"
# for each value, and the list of everything under drive_c. The server is
# stopped first so that the files hold all it knows. One value is left out of
# every snapshot: the display adapter's DriverDateData, which Wine writes anew
# each time a prefix starts.
reg_entries() {
  python3 - "$1" <<'PY'
import re, sys
key, pending, out = None, None, []
for line in open(sys.argv[1], encoding="utf-8", errors="surrogateescape"):
    line = line.rstrip("\n")
    if pending is not None:
        line, pending = pending + line.strip(), None
    if re.search(r'=hex(\([0-9a-f]+\))?:.*\\$', line):
        pending = line[:-1]
        continue
    if line.startswith("["):
        key = re.sub(r"\]\s+\d+$", "]", line)
        out.append(key)
    elif key and line and not line.startswith(("#", ";")):
        if key.startswith(r"[System\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}") \
                and line.startswith('"DriverDateData"='):
            continue
        out.append(key + "\t" + line)
# A key with values is listed by its values alone.
with_values = {e.split("\t")[0] for e in out if "\t" in e}
for e in out:
    if "\t" in e or e not in with_values:
        print(e)
PY
}
snap() {   # snap NAME: a snapshot of $WINEPREFIX into $work/NAME.{user,system,files}
  lc_wine_stop
  reg_entries "$WINEPREFIX/user.reg" | LC_ALL=C sort -u >"$work/$1.user"
  reg_entries "$WINEPREFIX/system.reg" | LC_ALL=C sort -u >"$work/$1.system"
  (cd "$WINEPREFIX/drive_c" && find . -mindepth 1 -printf '%y %P\n') | LC_ALL=C sort -u >"$work/$1.files"
}
added() { LC_ALL=C comm -13 "$1" "$2"; }     # in the second, not the first
common() { LC_ALL=C comm -12 "$1" "$2"; }
wine_quiet() { wine "$@" </dev/null >>"$work/wine.log" 2>&1; }
wine_status() { wine "$@" </dev/null >>"$work/wine.log" 2>&1; echo $?; }
tab=$'\t'

# Fresh prefixes of each kind, copied from the builds' untouched ones (which
# no program ever ran in).
export LETTERCAST_ARCH=$arch
source "$top/scripts/lib/builds.sh"
export LETTERCAST_BUILD_DIR=$(lc_build_of "$build" "$arch")
source "$top/scripts/lib/wine.sh"
lc_wine_fresh "$work/prefix" >/dev/null || { echo "FAILED: the Wine prefix could not be made"; exit 1; }
export WINEPREFIX=$work/prefix
prefixes+=("$WINEPREFIX")
if [ "$arch" = x64 ]; then
  # The 32-bit Windows for the refusal below.
  prefixes+=("$work/prefix32")
  (export LETTERCAST_ARCH=x86 LETTERCAST_BUILD_DIR=$build
   source "$top/scripts/lib/wine.sh" && lc_wine_fresh "$work/prefix32") >"$work/prefix32.log" 2>&1 ||
    { echo "FAILED: the 32-bit Wine prefix could not be made"; exit 1; }
fi
lc_wine_serve

# --- Outlook of the other bitness -----------------------------------------
# Each Outlook writes its Bitness in its own registry view: 64-bit Outlook in
# the 64-bit one, 32-bit Outlook in the 32-bit one; Click-to-Run keeps its
# Platform in the 64-bit view. (A 32-bit prefix has one view: /reg:32 and
# /reg:64 name the same keys there.)
view_of() { case $1 in x64) echo /reg:64 ;; x86) echo /reg:32 ;; esac; }
office='HKLM\Software\Microsoft\Office'
forget_office() { wine_quiet reg delete "$office" /f /reg:64; wine_quiet reg delete "$office" /f /reg:32; }
expected_message="This package is for $bits-bit Outlook, and this computer has $other_bits-bit Outlook. Install Lettercast-$other.msi instead."
# Wine's msiexec writes no launch condition's message to its log (it shows the
# message only in a message box, when there is a user interface), so the
# launch condition that refused is found in Wine's trace of the conditions it
# evaluated, and its message in the package's LaunchCondition table.
refusing_message() {   # refusing_message TRACE
  python3 - "$1" <(table LaunchCondition) <<'PY'
import re, sys
conditions = [l.rstrip("\n").split("\t", 1) for l in open(sys.argv[2]) if "\t" in l]
found = []
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    m = re.search(r'MSI_EvaluateConditionW 0 <- L"(.*?)("\.\.\.|")$', line.rstrip("\n"))
    if not m:
        continue
    text = m.group(1).replace('\\"', '"').replace("\\\\", "\\")
    found += [message for condition, message in conditions
              if (condition.startswith(text) if m.group(2) != '"' else condition == text)]
print("\n".join(found))
PY
}
refused() {   # refused WHAT: msiexec /i fails, for the bitness, and installs nothing
  local what=$1 status
  status=$(WINEDEBUG=+msi wine msiexec /i "$(winpath "$msi")" /qn </dev/null >/dev/null 2>"$work/trace.txt"; echo $?)
  check "$what: msiexec /i fails (status $status)" test "$status" -ne 0
  check "$what: the launch condition that refuses it says \"$expected_message\"" \
    test "$(refusing_message "$work/trace.txt")" = "$expected_message"
  check "$what: no file is installed" \
    test -z "$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Local/Programs/Lettercast 2>/dev/null)"
  check "$what: no class is registered" \
    test "$(wine_status reg query 'HKCU\Software\Classes\CLSID\{2BF6E8F5-8037-4654-A520-6CC436A37AA9}')" -ne 0
}
wine_quiet reg add "$office\\16.0\\Outlook" /v Bitness /d "$other" /f "$(view_of "$other")"
refused "Outlook 2016 or later of $other_bits bits"
forget_office
wine_quiet reg add "$office\\ClickToRun\\Configuration" /v Platform /d "$other" /f /reg:64
refused "Click-to-Run Office of $other_bits bits"
forget_office
# Outlook of this package's bitness, and an older Outlook's value of the other
# bitness left behind: the newest Outlook's value decides.
wine_quiet reg add "$office\\16.0\\Outlook" /v Bitness /d "$arch" /f "$(view_of "$arch")"
wine_quiet reg add "$office\\14.0\\Outlook" /v Bitness /d "$other" /f "$(view_of "$other")"

# --- Install, a mailing, uninstall ----------------------------------------
snap before
lc_wine_serve
status=$(wine_status msiexec /i "$(winpath "$msi")" /qn /l*v "$(winpath "$work/install.log")")
check "msiexec /i /qn succeeds ($status), Outlook 2016 of $bits bits beside an older one of $other_bits" test "$status" -eq 0
snap installed

local_appdata=$(sed -n 's/^\[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders\]\t"Local AppData"="\(.*\)"$/\1/p' "$work/before.user" | sed 's/\\\\/\\/g')
installed_dll="$local_appdata\\Programs\\Lettercast\\$arch\\Pigeonflight_ATL.dll"
installed_unix=$WINEPREFIX/drive_c/$(sed -e 's/^[Cc]:\\//' -e 's/\\/\//g' <<<"$local_appdata\\Programs\\Lettercast\\$arch")
check "the user's local application data folder is known ($local_appdata)" test -n "$local_appdata"
for f in Pigeonflight_ATL.dll Lettercast.chm SampleTo.txt; do
  check "$f is installed as the package holds it, in $local_appdata\\Programs\\Lettercast\\$arch" cmp -s "$extracted/$f" "$installed_unix/$f"
done
escaped() { sed 's/\\/\\\\/g' <<<"$1"; }
check "HKCU\\Software\\Classes\\CLSID\\{2BF6E8F5-...}\\InprocServer32 names the installed DLL" \
  grep -qxF "[Software\\\\Classes\\\\CLSID\\\\{2BF6E8F5-8037-4654-A520-6CC436A37AA9}\\\\InprocServer32]$tab@=\"$(escaped "$installed_dll")\"" "$work/installed.user"

job_args=(--prefix "$WINEPREFIX" --list "$top/samples/SampleTo.txt" --out "$work/job" --pause 0)
[ "$arch" = x86 ] || job_args+=(--x64)
(unset LETTERCAST_ARCH LETTERCAST_WINEPREFIX; export LETTERCAST_BUILD_DIR=$build; "$top/scripts/run-job" "${job_args[@]}") >"$work/job.out" 2>"$work/job.err"
status=$?
check "run-job --prefix completes the mailing ($status)" test "$status" -eq 0
check "4 messages delivered" test "$(find "$work/job/delivered" -name '*.eml' 2>/dev/null | wc -l)" -eq 4
served=$(sed -n 's/^outlook-standin: Pigeonflight_ATL.Connect is served by \(.*\)$/\1/p' "$work/job.err" | tr -d '\r' | head -n 1)
check "the host loads the add-in from the installed DLL ($served)" test "$served" = "$installed_dll"
snap job
# regsvr32 registers the class machine-wide in Wine (HKLM\Software\Classes).
check "the job ran without regsvr32: no class registered in HKLM" \
  test -z "$(grep -i '^\[Software\\\\Classes\\\\CLSID\\\\{2BF6E8F5-8037-4654-A520-6CC436A37AA9}' "$work/job.system")"

lc_wine_serve
status=$(wine_status msiexec /x "$(winpath "$msi")" /qn /l*v "$(winpath "$work/uninstall.log")")
check "msiexec /x /qn succeeds ($status)" test "$status" -eq 0
snap removed

for kind in user system files; do
  added "$work/before.$kind" "$work/installed.$kind" >"$work/wrote.$kind"
  added "$work/installed.$kind" "$work/job.$kind" >"$work/job-wrote.$kind"
done
check "the install wrote the registration under HKCU ($(wc -l <"$work/wrote.user") entries)" test -s "$work/wrote.user"
# The package's registry values are all under HKCU\Software\Classes and
# Outlook's add-in entry; in HKLM only Windows Installer's own record of the
# product, which the removal must take away like the rest.
grep -v -E '^\[Software\\\\(Classes|Microsoft\\\\Office\\\\Outlook\\\\Addins)\\\\' "$work/wrote.user" >"$work/elsewhere.user"
check_none "the install wrote no other user keys" "$work/elsewhere.user"
for kind in user system files; do
  common "$work/wrote.$kind" "$work/removed.$kind" >"$work/left.$kind"
  LC_ALL=C comm -23 "$work/before.$kind" "$work/removed.$kind" >"$work/lost.$kind"
  # Whatever is new once the package is gone was written by the job (the
  # add-in's options and logs, the stand-in host's store), or is one of the
  # empty keys that Windows Installer keeps its records of products,
  # features and components under (Wine's msiexec leaves them once made), or
  # its cache folder C:\windows\Installer.
  added "$work/before.$kind" "$work/removed.$kind" | LC_ALL=C comm -23 - "$work/job-wrote.$kind" |
    grep -v -E '^\[Software\\\\(Classes|Microsoft\\\\Windows\\\\CurrentVersion)\\\\Installer(\\\\[^]]*)?\]$' |
    grep -v -x 'd windows/Installer' >"$work/new.$kind"
done
check_none "the removal took away every HKCU key and value the install wrote" "$work/left.user"
check_none "the removal took away every HKLM key and value the install wrote" "$work/left.system"
check_none "the removal took away every file and folder the install wrote" "$work/left.files"
check_none "the removal took away nothing that was there before (HKCU)" "$work/lost.user"
check_none "the removal took away nothing that was there before (HKLM)" "$work/lost.system"
check_none "the removal took away nothing that was there before (files)" "$work/lost.files"
check_none "nothing left in HKCU but what the job wrote" "$work/new.user"
check_none "nothing left in HKLM but what the job wrote and Windows Installer's empty record keys" "$work/new.system"
check_none "no files left but what the job wrote" "$work/new.files"

# --- What regsvr32 writes -------------------------------------------------
# The same DLL at the same path, registered by regsvr32 into the prefix the
# package has left: the DLL writes its classes under HKLM\Software\Classes
# (the machine-wide form) and the add-in entry under HKCU. In a 64-bit prefix
# it writes the interface in both registry views (Software\Classes\Wow6432Node
# too); Wine keeps one view of HKCU\Software\Classes for every program, so the
# package's 32-bit copy of the interface is the same keys as its 64-bit one,
# and the two views are compared as one. HELPDIR is the DLL's folder, which
# Windows Installer writes with a final backslash. Registry names are compared
# without regard to case, as Windows looks them up.
mkdir -p "$installed_unix"
cp "$extracted/Pigeonflight_ATL.dll" "$installed_unix/"
lc_wine_serve
wine_quiet regsvr32 /s "$installed_dll"
check "regsvr32 registers the installed DLL" test $? -eq 0
snap registered
per_user_form() {   # the entries of a registration, keys in lower case
  sed -E -e 's/^\[Software\\\\Classes\\\\Wow6432Node\\\\/[Software\\\\Classes\\\\/' \
         -e 's/^(\[[^]]*\\\\1\.0\\\\HELPDIR\]'"$tab"'@=".*)\\\\"$/\1"/' |
    awk -F'\t' 'BEGIN { OFS = "\t" } { $1 = tolower($1); print }' | LC_ALL=C sort -u
}
{ added "$work/removed.user" "$work/registered.user"
  added "$work/removed.system" "$work/registered.system"; } | per_user_form >"$work/by-regsvr32"
per_user_form <"$work/wrote.user" >"$work/by-package"
LC_ALL=C comm -13 "$work/by-package" "$work/by-regsvr32" >"$work/missing"
LC_ALL=C comm -23 "$work/by-package" "$work/by-regsvr32" >"$work/extra"
check "regsvr32 wrote a registration ($(wc -l <"$work/by-regsvr32") entries)" test -s "$work/by-regsvr32"
check_none "the package writes everything regsvr32 writes" "$work/missing"
check_none "the package writes nothing regsvr32 does not" "$work/extra"

# --- 32-bit Windows ---------------------------------------------------------
if [ "$arch" = x64 ]; then
  wait
  export WINEPREFIX=$work/prefix32 WINEARCH=win32
  if [ -f "$WINEPREFIX/.lettercast-ready" ]; then
    snap before32
    lc_wine_serve
    status=$(wine_status msiexec /i "$(winpath "$msi")" /qn)
    # Windows Installer refuses a package for another processor before any
    # condition of it (ERROR_INSTALL_PLATFORM_UNSUPPORTED, 1633); the exit
    # status keeps the low 8 bits of msiexec's exit code.
    check "on 32-bit Windows msiexec /i refuses the package as one for another processor ($status)" \
      test "$status" -eq $((1633 % 256))
    snap after32
    # Nothing changes but Windows Installer's own cache folder, which Wine's
    # msiexec makes (empty) as it opens a package.
    for kind in user system files; do
      LC_ALL=C comm -3 "$work/before32.$kind" "$work/after32.$kind" | grep -v -x $'\td windows/Installer' >"$work/changed32.$kind"
      check_none "on 32-bit Windows nothing is installed ($kind)" "$work/changed32.$kind"
    done
  else
    echo "FAILED: the 32-bit prefix could not be made"; cat "$work/prefix32.log"; fail=1
  fi
fi

exit $fail
