# The zip for Windows users, made from a build: the stripped DLL, the help
# file, the sample mailing list, the install page and the .reg files that add
# (or remove) the add-in for one more user. The zip unpacks to one folder,
# Lettercast, the folder every command of the install page names.
# Usage: source this file; lc_package BUILD_DIR ZIP_FILE
lc_package_folder=Lettercast

lc_package() {
  local build=$1 zip_file=$2 top
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  local work
  work=$(mktemp -d "${TMPDIR:-/tmp}/lettercast-package.XXXXXX")
  local stage=$work/$lc_package_folder
  mkdir -p "$stage"
  source "$top/scripts/lib/strip.sh"
  lc_strip_dll "$build/bin/Pigeonflight_ATL.dll" "$stage/Pigeonflight_ATL.dll"
  cp "$build/bin/Lettercast.chm" "$top/samples/SampleTo.txt" "$top"/docs/package/*.reg "$stage/"
  cp "$top/docs/install-windows.html" "$stage/Install.html"
  # Windows users open these files with Notepad, and regedit wants them so
  # too: CR LF line ends.
  local f
  for f in "$stage/SampleTo.txt" "$stage"/*.reg; do
    sed -i -e 's/\r$//' -e 's/$/\r/' "$f"
  done
  rm -f "$zip_file"
  mkdir -p "$(dirname "$zip_file")"
  (cd "$work" && zip -q -r -X "$(realpath -m "$zip_file")" "$lc_package_folder")
  local status=$?
  rm -rf "$work"
  return $status
}
