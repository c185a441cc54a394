// The host SDK as the plug-in sees it.
#pragma once

#include "host/animatable.h"
#include "host/control.h"
#include "host/inode.h"
#include "host/interface.h"
#include "host/iskin.h"
#include "host/maxtypes.h"
#include "host/mesh.h"
#include "host/mtl.h"
#include "host/objects.h"
#include "host/plugapi.h"
