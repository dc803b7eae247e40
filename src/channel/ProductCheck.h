// A standalone check of the unit's product identity.
#ifndef PRODUCTCHECK_H_
#define PRODUCTCHECK_H_

#include "base/Catalogue.h"

#include <windows.h>

#define PRODUCT_QUERY_COMMAND "%fw -p"

// TRUE when the unit's whole reply to one "%fw -p" equals the text; on FALSE
// the port has been closed.
BOOL validateProductId(const char *productIdStringToCompare);

#endif
