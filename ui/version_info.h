// The DLL's version, read from its own version resource.
#ifndef LETTERCAST_VERSION_INFO_H
#define LETTERCAST_VERSION_INFO_H

// Major and minor file version; 0 and 0 when it cannot be read.
void GetModuleVersion(int* pnMajor, int* pnMinor);

#endif
