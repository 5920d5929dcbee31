#include <cstring>

#include "common/aligned.h"        // fine: g729 uses common
#include "codec_slot/aligned.h"    // wrong: a layer above
#include "g729/g729_decoder.h"     // fine: its own layer
