# What Windows users get, made from a build (BUILD, the 32-bit build's folder,
# with the 64-bit build in BUILD/x64):
#   lc_package_msi BUILD ARCH MSI_FILE   the Windows Installer package of one
#       build (x86 or x64), from scripts/lib/Lettercast.wxs: the stripped DLL,
#       the help file and the sample list, registered for the user who installs it
#   lc_package BUILD ZIP_FILE   the zip: both packages, and for those who
#       install by hand each build's stripped DLL in its own folder beside the
#       help file and the sample list (the add-in finds both beside itself),
#       the .reg files that add (or remove) the add-in for one more user and
#       the install page. It unpacks to one folder, Lettercast, the folder
#       every command of the install page names. The packages are left beside
#       the zip too, as Lettercast-x86.msi and Lettercast-x64.msi.
# Usage: source this file, then call the functions.
lc_package_folder=Lettercast
lc_package_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$lc_package_top/scripts/lib/strip.sh"
source "$lc_package_top/scripts/lib/builds.sh"

# The version of the build, as the project states it (x.y.z): the package's
# ProductVersion, as the DLL's version resource is made from the same line.
lc_package_version() {
  sed -n 's/^project(Lettercast VERSION \([0-9][0-9.]*\).*/\1/p' "$lc_package_top/CMakeLists.txt"
}

# One build's files as shipped, into DIR: the stripped DLL, the help file and
# the sample list with CR LF line ends (Windows users open it with Notepad).
lc_package_build_files() {   # lc_package_build_files BUILD ARCH DIR
  local bin f
  bin=$(lc_build_of "$1" "$2")/bin || return
  for f in "$bin/Pigeonflight_ATL.dll" "$bin/Lettercast.chm"; do
    [ -f "$f" ] || { echo "package: $f is missing: build first (scripts/build)" >&2; return 1; }
  done
  mkdir -p "$3" &&
  lc_strip_dll "$bin/Pigeonflight_ATL.dll" "$3/Pigeonflight_ATL.dll" &&
  cp "$bin/Lettercast.chm" "$3/" &&
  sed -e 's/\r$//' -e 's/$/\r/' "$lc_package_top/samples/SampleTo.txt" >"$3/SampleTo.txt"
}

# FILES, when given, holds that build's files as lc_package_build_files made
# them, so that the package and the zip ship the same bytes.
lc_package_msi() {   # lc_package_msi BUILD ARCH MSI_FILE [FILES]
  local build=$1 arch=$2 msi=$3 files=${4:-} version work status
  command -v wixl >/dev/null || { echo "package: wixl is missing (Debian package wixl)" >&2; return 1; }
  lc_build_of "$build" "$arch" >/dev/null || return
  version=$(lc_package_version)
  [ -n "$version" ] || { echo "package: no version in $lc_package_top/CMakeLists.txt" >&2; return 1; }
  work=$(mktemp -d "${TMPDIR:-/tmp}/lettercast-msi.XXXXXX") || return
  mkdir -p "$(dirname "$msi")"
  msi=$(realpath -m "$msi")
  [ -n "$files" ] || { files=$work/files; lc_package_build_files "$build" "$arch" "$files" || files=; }
  # wixl takes the files' Source paths relative to the folder it runs in.
  if [ -n "$files" ] &&
     (cd "$files" && wixl --arch "$arch" -D Arch="$arch" -D Version="$version" -D SourceDir=. \
        -o "$msi" "$lc_package_top/scripts/lib/Lettercast.wxs" >"$work/wixl.log" 2>&1); then
    status=0
  else
    [ ! -s "$work/wixl.log" ] || cat "$work/wixl.log" >&2
    echo "package: the $arch package could not be made" >&2
    rm -f "$msi"
    status=1
  fi
  rm -rf "$work"
  return $status
}

lc_package() {   # lc_package BUILD ZIP_FILE
  local build=$1 zip_file=$2 work arch status
  work=$(mktemp -d "${TMPDIR:-/tmp}/lettercast-package.XXXXXX") || return
  local stage=$work/$lc_package_folder dist
  mkdir -p "$stage" "$(dirname "$zip_file")"
  dist=$(dirname "$(realpath -m "$zip_file")")
  for arch in x86 x64; do
    lc_package_build_files "$build" "$arch" "$stage/$arch" &&
    lc_package_msi "$build" "$arch" "$dist/Lettercast-$arch.msi" "$stage/$arch" &&
    cp "$dist/Lettercast-$arch.msi" "$stage/" || { rm -rf "$work"; return 1; }
  done
  cp "$lc_package_top"/docs/package/*.reg "$stage/"
  cp "$lc_package_top/docs/install-windows.html" "$stage/Install.html"
  # regedit wants the .reg files with CR LF line ends, as Notepad does.
  local f
  for f in "$stage"/*.reg; do
    sed -i -e 's/\r$//' -e 's/$/\r/' "$f"
  done
  rm -f "$zip_file"
  (cd "$work" && zip -q -r -X "$(realpath -m "$zip_file")" "$lc_package_folder")
  status=$?
  rm -rf "$work"
  return $status
}
