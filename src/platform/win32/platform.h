// The platform names of the filter host on Windows: they come from the real
// SDK headers (mingw-w64). Only glue that the headers lack lives here.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <dshow.h>

#include <cstdint>
#include <cstring>
