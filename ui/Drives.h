#pragma once

#include "frmDir.h"

// The drives of this machine (driveMountPoints of its mount table), for the
// chooser's drive list.
const VolumeSource& systemVolumes();
