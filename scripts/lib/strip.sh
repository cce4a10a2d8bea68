# The DLL as shipped: without its symbol table and debugging sections, which
# are two thirds of its size and nothing Windows reads. Sections, resources and
# exports stay as linked (tests/addin/check_stripped.sh compares them). The
# x86-64 binutils read and write both builds' DLLs.
# Usage: source this file; lc_strip_dll IN OUT
lc_strip_dll() {
  x86_64-w64-mingw32-strip --strip-all -o "$2" "$1"
}
