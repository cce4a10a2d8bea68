/* Names shared by the resource scripts and the code. */
#ifndef LETTERCAST_PRODUCT_H
#define LETTERCAST_PRODUCT_H

/* The product name: caption of every message box, name of the settings key
   and of the per-user data folder. */
#define LC_PRODUCT_NAME "Lettercast"

#define LC_VERSION_MAJOR 4
#define LC_VERSION_MINOR 3
#define LC_VERSION_TEXT "4.3.0.0"

#define LC_DLL_FILE_NAME "Pigeonflight_ATL.dll"
#define LC_HELP_FILE_NAME "Lettercast.chm"

/* The maker's web site: opened by the dialogs' link, shown without its scheme. */
#define LC_WEB_ADDRESS "https://vostel.example/lettercast/"
#define LC_WEB_ADDRESS_TEXT "vostel.example/lettercast/"

#endif
