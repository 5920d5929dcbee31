#include "video_units.h"

namespace velkorix::cli::video {
namespace {

constexpr uint8_t kVopStartCode = 0xB6;

// Positions of every 00 00 01 start code prefix in `data`.
std::vector<std::size_t> StartCodes(const uint8_t *data, std::size_t size) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i + 3 <= size;) {
        if (data[i + 2] > 1) {
            i += 3;
        } else if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            found.push_back(i);
            i += 3;
        } else {
            ++i;
        }
    }
    return found;
}

// Cuts `data` at `cuts` (ascending, each within (0, size)).
void CutAt(const std::vector<std::size_t> &cuts, std::size_t size, std::vector<UnitSpan> *units) {
    std::size_t begin = 0;
    for (std::size_t cut : cuts) {
        if (cut <= begin || cut >= size) continue;
        units->push_back({begin, cut - begin});
        begin = cut;
    }
    if (begin < size) units->push_back({begin, size - begin});
}

void SplitMpeg4(const uint8_t *data, std::size_t size, std::vector<UnitSpan> *units) {
    const std::vector<std::size_t> codes = StartCodes(data, size);
    std::vector<std::size_t> cuts;
    for (std::size_t k = 0; k + 1 < codes.size(); ++k) {
        const std::size_t at = codes[k];
        if (at + 3 < size && data[at + 3] == kVopStartCode) cuts.push_back(codes[k + 1]);
    }
    CutAt(cuts, size, units);
}

bool OpensAccessUnit(int type) { return type == 6 || type == 7 || type == 8 || type == 9 || (type >= 14 && type <= 18); }
bool IsSlice(int type) { return type >= 1 && type <= 5; }

void SplitH264(const uint8_t *data, std::size_t size, std::vector<UnitSpan> *units) {
    const std::vector<std::size_t> codes = StartCodes(data, size);
    std::vector<std::size_t> cuts;
    bool sliceSeen = false;
    for (std::size_t at : codes) {
        if (at + 3 >= size) break;
        const int type = data[at + 3] & 0x1F;
        // first_mb_in_slice is the slice header's first field, ue(v): 0 is a
        // single 1 bit.
        const bool firstSlice = IsSlice(type) && at + 4 < size && (data[at + 4] & 0x80) != 0;
        if (sliceSeen && (OpensAccessUnit(type) || firstSlice)) {
            cuts.push_back(at > 0 && data[at - 1] == 0 ? at - 1 : at);
            sliceSeen = false;
        }
        if (IsSlice(type)) sliceSeen = true;
    }
    CutAt(cuts, size, units);
}

bool SplitLengthPrefixed(const uint8_t *data, std::size_t size, std::vector<UnitSpan> *units, std::string *error) {
    for (std::size_t at = 0; at < size;) {
        if (size - at < 4) {
            *error = "the input ends inside a record's length at byte " + std::to_string(at);
            return false;
        }
        const std::size_t length = std::size_t{data[at]} << 24 | std::size_t{data[at + 1]} << 16 |
                                   std::size_t{data[at + 2]} << 8 | data[at + 3];
        if (length > size - at - 4) {
            *error = "the record at byte " + std::to_string(at) + " declares " + std::to_string(length) +
                     " bytes, " + std::to_string(size - at - 4) + " are left";
            return false;
        }
        units->push_back({at, 4 + length});
        at += 4 + length;
    }
    return true;
}

}  // namespace

bool SplitUnits(UnitFormat format, const uint8_t *data, std::size_t size, std::vector<UnitSpan> *units,
                std::string *error) {
    units->clear();
    switch (format) {
        case UnitFormat::Mpeg4Visual:
            SplitMpeg4(data, size, units);
            return true;
        case UnitFormat::H264AnnexB:
            SplitH264(data, size, units);
            return true;
        case UnitFormat::LengthPrefixed:
            return SplitLengthPrefixed(data, size, units, error);
    }
    return false;
}

}  // namespace velkorix::cli::video
