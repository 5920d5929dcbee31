// Cutting a video elementary stream into the units the codec slot decodes one
// at a time: a VOP with the headers before it (MPEG-4 part 2), an access unit
// (H.264 in Annex B form), or records of a 4-byte big-endian length and that
// many bytes of access unit (the input of codec type 16, whose 4 leading
// bytes the slot skips).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velkorix::cli::video {

enum class UnitFormat {
    Mpeg4Visual,     // codec type 0
    H264AnnexB,      // codec type 1
    LengthPrefixed,  // codec type 16: each unit keeps its 4-byte length
};

struct UnitSpan {
    std::size_t offset;
    std::size_t size;
};

// The units of `data`, in order, covering it whole. MPEG-4: a unit ends where
// the start code after a VOP start code (0x000001B6) begins; bytes after the
// last VOP form a unit of their own. H.264: a unit begins at an access unit
// delimiter, SEI, sequence or picture parameter set (NAL types 9, 6, 7, 8),
// or a slice whose first macroblock is 0, that follows a slice of the unit
// before; a start code's leading zero byte goes with the NAL unit it opens.
// Length-prefixed: false (and `error` says where) when a record runs past the
// end.
bool SplitUnits(UnitFormat format, const uint8_t *data, std::size_t size, std::vector<UnitSpan> *units,
                std::string *error);

}  // namespace velkorix::cli::video
