/* Resource ids of the COM server: its registry scripts and ribbon definitions. */
#ifndef LETTERCAST_IDS_ADDIN_H
#define LETTERCAST_IDS_ADDIN_H

#define IDR_PIGEONFLIGHT_ATL        101   /* REGISTRY: the AppID entries */
#define IDR_CONNECT                 102   /* REGISTRY: the class, its ProgIDs and the Outlook add-in key */
#define IDR_RIBBON_EXPLORER         201   /* XML: every ribbon but the compose window's */
#define IDR_RIBBON_MAIL_COMPOSE     202   /* XML: the compose window's ribbon */

#endif
