# Where each build of the add-in lies: the 32-bit build in BUILD (build/ by
# default, or LETTERCAST_BUILD_DIR for the scripts that build and package),
# the 64-bit build in its x64 folder. Source this file.
lc_build_of() {   # lc_build_of BUILD x86|x64: prints that build's folder
  case $2 in
    x86) printf '%s' "$1" ;;
    x64) printf '%s' "$1/x64" ;;
    *) echo "the build is x86 or x64, not $2" >&2; return 2 ;;
  esac
}
