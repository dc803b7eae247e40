#include "UnitModel.h"
