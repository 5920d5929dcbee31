#include "voice_frame.h"   // fine: beside this file
#include "platform.h"      // wrong: the platform's folder
#include "nowhere.h"       // wrong: belongs to no layer
