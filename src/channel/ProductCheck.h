// A standalone check of the unit's product identity.
#ifndef PRODUCTCHECK_H_
#define PRODUCTCHECK_H_

#include "base/Catalogue.h"

#include <windows.h>

#define PRODUCT_QUERY_COMMAND "%fw -p"

// TRUE when the unit's whole reply to one "%fw -p" equals the text; on FALSE
// the port has been closed.
BOOL validateProductId(const char *productIdStringToCompare);
// What the unit answered to the last check's query (up to PRODUCT_REPLY_KEPT
// bytes), for telling the user what it is when it is not the product asked for.
#define PRODUCT_REPLY_KEPT 256
const char *productIdReported(void);

#endif
