#include "g726_stream/g726_stream.h"  // fine
#include "velkorix/codec_slot.h"      // wrong: the codec slot's public header
#include "velkorix/velkorix_export.h" // fine: common's
