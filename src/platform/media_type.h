// Media type helpers shared by both platforms: deep copies that own their
// format block (task memory), and their release.
#pragma once

#include "platform.h"

namespace velkorix {

// Copies `source` into `target` (which holds no format block of its own);
// the format block is duplicated. E_OUTOFMEMORY when the copy cannot be made.
HRESULT CopyMediaType(AM_MEDIA_TYPE *target, const AM_MEDIA_TYPE *source);
// Releases the format block and the held interface of a type, and clears it.
void FreeMediaType(AM_MEDIA_TYPE &type);
// A task-memory copy of a type, for handing to a caller who deletes it.
AM_MEDIA_TYPE *CreateMediaType(const AM_MEDIA_TYPE *source);
// Frees a type made by CreateMediaType (or handed out by a sample).
void DeleteMediaType(AM_MEDIA_TYPE *type);

}  // namespace velkorix
