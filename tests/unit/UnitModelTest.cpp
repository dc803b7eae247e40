#include "UnitModel.h"

#include <gtest/gtest.h>
