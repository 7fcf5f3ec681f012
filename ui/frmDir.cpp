#include "frmDir.h"
