// Stand-ins for the Windows-only parts of the mailing code in the native
// fuzz build.
#ifndef LETTERCAST_FUZZ_NATIVE_SHIM_H
#define LETTERCAST_FUZZ_NATIVE_SHIM_H

// How often the reader asked to tell the user that memory ran out.
extern int gnFuzzOutOfMemoryReports;

#endif
