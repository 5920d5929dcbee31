#include "reference.h"

#include <algorithm>
#include <cstdlib>

namespace bench::reference {
namespace {

int32_t S16(int32_t v) { return static_cast<int16_t>(v); }
int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }
int32_t Sgn(int32_t v) { return v < 0 ? -1 : 1; }

struct Adpcm2 {
    int32_t sr1 = 16, sr2 = 16, a1 = 0, a2 = 0;
    int32_t b[6] = {0, 0, 0, 0, 0, 0};
    int32_t dq[6] = {32, 32, 32, 32, 32, 32};  // dq[0] is DQ1, the latest
    int32_t dms = 0, dml = 0, ap = 0, yu = 544, td = 0, pk1 = 0, pk2 = 0;
    int32_t yl = 34816;

    int32_t z = 0, p = 0, y = 0;

    // Steps 1 and 2: prediction and scale factor.
    void Predict() {
        // 32-bit sums, wrapping as the coder's registers do.
        uint32_t sum = 0;
        for (int i = 0; i < 6; ++i) sum += static_cast<uint32_t>(b[i] * dq[i]);
        z = static_cast<int32_t>(sum);
        p = static_cast<int32_t>(sum + static_cast<uint32_t>(a1 * sr1) + static_cast<uint32_t>(a2 * sr2));
        const int32_t al = ap < 256 ? ap >> 2 : 64;
        const int32_t dif = S16(yu - (yl >> 6));
        y = S16((yl + dif * al) >> 6);
    }

    // Step 3: the code of a sample.
    int Quantize(int32_t x) const {
        // A difference beyond 16 bits keeps its sign at the 16-bit limit.
        const auto d = static_cast<int32_t>(
            std::clamp<int64_t>((8192 * static_cast<int64_t>(x) - p) >> 13, -32768, 32767));
        const bool negative = d < 0;
        const int32_t m = std::abs(d);
        int32_t log = -128;
        if (m != 0) {
            int e = 0;
            while ((m >> (e + 1)) != 0) ++e;
            log = 128 * e + (((m * 128) >> e) & 127);
        }
        const int32_t dln = S16(log - (y >> 2));
        const bool large = dln > 260;
        return negative ? (large ? 2 : 3) : (large ? 1 : 0);
    }

    // Steps 4 to 15 for code i; returns the reconstructed signal (unlimited).
    int32_t Update(int i) {
        static const int32_t kLog[4] = {116, 365, 365, 116};
        static const int32_t kF[4] = {0, 7, 7, 0};
        static const int32_t kW[4] = {-22, 439, 439, -22};
        const int32_t dql = S16((y >> 2) + kLog[i]);
        int32_t dqv = (((dql & 127) + 128) * 128) >> (14 - (dql >> 7));
        if (i >= 2) dqv = -dqv;
        const bool tr = 7147 * dql > yl && td == 1;
        dms = S16(dms + ((kF[i] * 512 - dms) >> 5));
        dml = S16(dml + ((kF[i] * 2048 - dml) >> 7));
        const int32_t oldYl = yl;
        yu = Clamp(S16(y + ((kW[i] * 32 - y) >> 5)), 544, 5120);
        yl = oldYl + yu - (oldYl >> 6);
        const int32_t sr = (p >> 13) + dqv;
        sr2 = sr1;
        sr1 = S16(sr >> 1);
        const int32_t pk0 = S16((z >> 13) + dqv);
        const int32_t s0 = pk0 < 0 ? -1 : pk0 > 0 ? 1 : 0;
        const int32_t oldPk1 = pk1, oldPk2 = pk2;
        pk2 = oldPk1;
        pk1 = pk0;
        const int32_t fa1 = Clamp(a1, -8192, 8192);
        const int32_t h = Sgn(oldPk2) * 4096 - Sgn(oldPk1) * fa1;
        const int32_t a2p = Clamp(S16(a2 - (a2 >> 7) + ((s0 * h) >> 5)), -12288, 12288);
        const int32_t a1p = Clamp(S16(a1 + s0 * Sgn(oldPk1) * 192 - (a1 >> 8)), -(15360 - a2p), 15360 - a2p);
        a2 = tr ? 0 : a2p;
        a1 = tr ? 0 : a1p;
        const int32_t tdp = a2p < -11776 ? 1 : 0;
        td = tr ? 0 : tdp;
        const int32_t spread = std::abs(4 * dms - dml);
        const int32_t ax = (spread >= (dml >> 3) || y < 1536 || tdp == 1) ? 1 : 0;
        ap = tr ? 256 : S16(ap - (ap >> 4) + 32 * ax);
        const int32_t step = dqv > 0 ? 64 : dqv < 0 ? -64 : 0;
        for (int k = 0; k < 6; ++k) b[k] = tr ? 0 : S16(b[k] - (b[k] >> 8) + (dq[k] >= 0 ? step : -step));
        for (int k = 5; k > 0; --k) dq[k] = dq[k - 1];
        dq[0] = dqv;
        return sr;
    }
};

}  // namespace

uint8_t G711Encode(int law, int16_t x) {
    if (law == 0) {
        int v = x >> 3;  // 13 bits
        int mask = 0xD5;
        if (x < 0) {
            mask = 0x55;
            v = -v - 1;
        }
        int segment = 0;
        while (segment < 8 && v >= (32 << segment)) ++segment;  // 0..31, 32..63, 64..127, ...
        if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
        const int shift = segment > 1 ? segment : 1;
        return static_cast<uint8_t>(((segment << 4) | ((v >> shift) & 0x0F)) ^ mask);
    }
    int v = x >> 2;  // 14 bits
    int mask = 0xFF;
    if (x < 0) {
        mask = 0x7F;
        v = -v;
    }
    if (v > 8159) v = 8159;
    v += 33;
    int segment = 0;
    while (segment < 8 && v >= (64 << segment)) ++segment;  // 0..63, 64..127, 128..255, ...
    if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
    return static_cast<uint8_t>(((segment << 4) | ((v >> (segment + 1)) & 0x0F)) ^ mask);
}

std::vector<uint8_t> Adpcm2Encode(const std::vector<int16_t> &pcm, int frameSamples) {
    Adpcm2 coder;
    std::vector<uint8_t> out;
    for (std::size_t at = 0; at + static_cast<std::size_t>(frameSamples) <= pcm.size();
         at += static_cast<std::size_t>(frameSamples)) {
        for (int w = 0; w < frameSamples / 8; ++w) {
            uint32_t word = 0;
            for (int k = 0; k < 8; ++k) {
                coder.Predict();
                const int code = coder.Quantize(pcm[at + static_cast<std::size_t>(8 * w + k)]);
                coder.Update(code);
                word |= static_cast<uint32_t>(code) << (14 - 2 * k);
            }
            out.push_back(static_cast<uint8_t>(word));
            out.push_back(static_cast<uint8_t>(word >> 8));
        }
    }
    return out;
}

std::vector<int16_t> Adpcm2Decode(const std::vector<uint8_t> &payloads) {
    Adpcm2 coder;
    std::vector<int16_t> out;
    for (std::size_t at = 0; at + 1 < payloads.size(); at += 2) {
        const uint32_t word = payloads[at] | static_cast<uint32_t>(payloads[at + 1]) << 8;
        for (int k = 0; k < 8; ++k) {
            coder.Predict();
            const int32_t sr = coder.Update(static_cast<int>(word >> (14 - 2 * k)) & 3);
            out.push_back(static_cast<int16_t>(Clamp(sr, -32768, 32767)));
        }
    }
    return out;
}

}  // namespace bench::reference
