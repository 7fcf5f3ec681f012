#include "HelpFile.h"
