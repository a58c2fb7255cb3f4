#pragma once

// The release public key the program trusts: the build's release key, or the development key the
// build made for itself. Defined in a unit the build generates from the key; never edited.

#include "installer/signature.h"

signature::Bytes releasepublickey();
