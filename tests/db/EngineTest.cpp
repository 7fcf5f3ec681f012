#include "DBEngine.h"

#include <gtest/gtest.h>
