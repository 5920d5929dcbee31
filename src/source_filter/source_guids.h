// Identifiers of the stream source module: its class, the file type it
// opens, and the event it sends when a stream ends at damage.
#pragma once

#include "platform.h"

namespace velkorix {

// "Velkorix Stream Source" {F91D2C2B-03D9-405E-BF62-616108B800A0}
inline constexpr CLSID kClsidVelkorixSource = {0xF91D2C2B, 0x03D9, 0x405E, {0xBF, 0x62, 0x61, 0x61, 0x08, 0xB8, 0x00, 0xA0}};

// The extension of framed stream files that RenderFile opens with the source.
inline constexpr char kStreamFileExtension[] = ".vks";

// The event the source sends to the graph when a stream ends early because
// the file is damaged there (a record cut short, a negative payload length,
// or a record that can no longer be read as it was when the file was
// opened): every complete record before it has been delivered, and end of
// stream follows. Parameter 1 is the low 32 bits and parameter 2 the high 32
// bits of the byte offset of the damaged record (the end of the last
// complete one), as unsigned numbers. A private code (EC_USER and up): the
// graph hands it to the application as it is.
inline constexpr LONG kEventStreamDamaged = 0x8000 + 0x0D47;  // EC_USER + 0xD47

}  // namespace velkorix
