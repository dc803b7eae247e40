// A standalone check of the unit's product identity.
#ifndef PRODUCTCHECK_H_
#define PRODUCTCHECK_H_

#include <windows.h>

#define VALIDATE_TX_PRODUCT_ID_STRING "Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\r\n>>"
#define VALIDATE_RX_PRODUCT_ID_STRING "Dexrig 6V IZA DOVOVUDI ZARE RIZOR RX\r\n>>"
#define PRODUCT_QUERY_COMMAND "%fw -p"

// TRUE when the unit's whole reply to one "%fw -p" equals the text; on FALSE
// the port has been closed.
BOOL validateProductId(const char *productIdStringToCompare);

#endif
