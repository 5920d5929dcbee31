#include "common/aligned.h"  // fine
