#include "g726_stream/g726_stream.h"

#include <cstring>

#include "codec_slot/aligned.h"
#include "codec_slot/bindings.h"

namespace {

constexpr int16_t kDqln[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
constexpr int16_t kW[8] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};
constexpr int16_t kF[8] = {0, 512, 1024, 3584, 3584, 1024, 512, 0};

inline int16_t S16(int32_t v) { return static_cast<int16_t>(v); }

// Number of significant bits of x (x >= 0), capped at 15: the index of the
// first power of two above x.
inline int Quan(const G726StreamDecoder &d, int32_t x) {
    int i = 0;
    while (i < 15 && d.POW2[i] <= x) ++i;
    return i;
}

// Product of a predictor coefficient (already shifted right by 2) and a value
// in the 4-bit exponent, 6-bit mantissa floating form. The magnitude of a
// negative coefficient is taken to 13 bits, as G.726 forms it: a coefficient
// at its lower limit (-2.0, that is -8192 here) has magnitude 0. Without that
// the decoder would leave the encoder's reconstruction once a zero predictor
// coefficient settles at -32768, and every sample after that would be garbage.
inline int16_t FMult(const G726StreamDecoder &d, int16_t an, int16_t srn) {
    const int32_t anmag = an > 0 ? an : ((-an) & 0x1FFF);
    const int32_t anexp = Quan(d, anmag) - 6;
    const int32_t anmant = anmag == 0 ? 32 : anexp >= 0 ? anmag >> anexp : S16(anmag << -anexp);
    const int32_t wanexp = anexp + ((srn >> 6) & 15) - 13;
    const int32_t wanmant = S16((anmant * (srn & 63) + 48) >> 4);
    const int32_t r = wanexp >= 0 ? (wanmant << wanexp) & 0x7FFF : wanmant >> -wanexp;
    return S16((an ^ srn) < 0 ? -r : r);
}

// Floating form of a magnitude with its sign.
inline int16_t FloatForm(const G726StreamDecoder &d, int32_t magnitude, bool negative) {
    if (magnitude == 0) return negative ? S16(0xFC20) : 32;
    const int e = Quan(d, magnitude);
    const int32_t form = e * 64 + ((magnitude * 64) >> e);
    return S16(negative ? form - 1024 : form);
}

void Update(G726StreamDecoder &d, int32_t y, int32_t wi, int32_t fi, int16_t dq, int16_t sr,
            int16_t dqsez) {
    const int16_t pk0 = dqsez < 0 ? 1 : 0;
    const int32_t mag = dq & 0x7FFF;

    // Transition detection from the old YL.
    const int32_t ylint = d.YL >> 15;
    const int32_t ylfrac = (d.YL >> 10) & 31;
    const int32_t thr1 = S16((32 + ylfrac) << ylint);
    const int32_t thr2 = ylint > 9 ? 31744 : thr1;
    const int32_t dqthr = (thr2 + (thr2 >> 1)) >> 1;
    const bool tr = d.TD != 0 && mag > dqthr;

    int32_t yu = y + ((wi - y) >> 5);
    if (yu < 544) yu = 544;
    if (yu > 5120) yu = 5120;
    d.YU = S16(yu);
    d.YL = d.YL + d.YU + ((-d.YL) >> 6);

    int32_t a2p = 0;
    if (tr) {
        d.A1 = d.A2 = 0;
        for (int16_t &b : d.B) b = 0;
    } else {
        const int16_t pks1 = pk0 ^ d.PK1;
        a2p = d.A2 - (d.A2 >> 7);
        if (dqsez != 0) {
            const int32_t fa1 = pks1 ? d.A1 : -d.A1;
            if (fa1 < -8191)
                a2p -= 256;
            else if (fa1 > 8191)
                a2p += 255;
            else
                a2p += fa1 >> 5;
            if (pk0 != d.PK2)
                a2p = a2p <= -12160 ? -12288 : a2p >= 12416 ? 12288 : a2p - 128;
            else
                a2p = a2p <= -12416 ? -12288 : a2p >= 12160 ? 12288 : a2p + 128;
        }
        a2p = S16(a2p);
        d.A2 = S16(a2p);

        int32_t a1 = d.A1 - (d.A1 >> 8);
        if (dqsez != 0) a1 += pks1 ? -192 : 192;
        const int32_t a1ul = 15360 - a2p;
        if (a1 < -a1ul) a1 = -a1ul;
        if (a1 > a1ul) a1 = a1ul;
        d.A1 = S16(a1);

        for (int k = 0; k < 6; ++k) {
            int32_t b = d.B[k] - (d.B[k] >> 8);
            if (mag != 0) b += (dq ^ d.DQ[k]) >= 0 ? 128 : -128;
            d.B[k] = S16(b);
        }
    }

    for (int k = 5; k > 0; --k) d.DQ[k] = d.DQ[k - 1];
    d.DQ[0] = FloatForm(d, mag, dq < 0);

    d.SR2 = d.SR1;
    if (sr == -32768)
        d.SR1 = S16(0xFC20);
    else
        d.SR1 = FloatForm(d, sr < 0 ? -sr : sr, sr < 0);

    d.PK2 = d.PK1;
    d.PK1 = pk0;

    d.TD = tr ? 0 : (a2p < -11776 ? 1 : 0);

    d.DMS = S16(d.DMS + ((fi - d.DMS) >> 5));
    d.DML = S16(d.DML + ((fi * 4 - d.DML) >> 7));

    if (tr) {
        d.AP = 256;
    } else {
        const int32_t spread = S16(d.DMS * 4 - d.DML);
        const int32_t absSpread = spread < 0 ? -spread : spread;
        if (y < 1536 || d.TD == 1 || absSpread >= (d.DML >> 3))
            d.AP = S16(d.AP + ((512 - d.AP) >> 4));
        else
            d.AP = S16(d.AP + ((-d.AP) >> 4));
    }
}

}  // namespace

int16_t G726StreamDecodeCode(G726StreamDecoder *decoder, int code) {
    G726StreamDecoder &d = *decoder;
    const int i = code & 7;

    int32_t sezi = 0;
    for (int k = 0; k < 6; ++k) sezi += FMult(d, S16(d.B[k] >> 2), d.DQ[k]);
    sezi = S16(sezi);
    const int32_t sez = sezi >> 1;
    const int32_t sei = S16(sezi + FMult(d, S16(d.A2 >> 2), d.SR2) + FMult(d, S16(d.A1 >> 2), d.SR1));
    const int32_t se = sei >> 1;

    int32_t y;
    if (d.AP >= 256) {
        y = d.YU;
    } else {
        const int32_t yls = d.YL >> 6;
        const int32_t dif = d.YU - yls;
        const int32_t al = d.AP >> 2;
        if (dif > 0)
            y = yls + ((dif * al) >> 6);
        else if (dif < 0)
            y = yls + ((dif * al + 63) >> 6);
        else
            y = yls;
    }

    const int32_t dql = S16(d.DQLN[i] + (y >> 2));
    int16_t dq;
    if (dql < 0) {
        dq = (i & 4) ? S16(-32768) : 0;
    } else {
        const int32_t dex = (dql >> 7) & 15;
        const int32_t dqt = 128 + (dql & 127);
        const int32_t magnitude = (dqt << 7) >> (14 - dex);
        dq = S16((i & 4) ? magnitude - 32768 : magnitude);
    }

    const int16_t sr = S16(dq < 0 ? se - (dq & 0x3FFF) : se + dq);
    const int16_t dqsez = S16(sr - se + sez);
    Update(d, y, d.W[i], d.F[i], dq, sr, dqsez);
    return S16(sr * 4);
}

G726StreamDecoder *G726StreamDecoderCreate() {
    auto *d = static_cast<G726StreamDecoder *>(AlignedAlloc(sizeof(G726StreamDecoder), 16));
    if (!d) return nullptr;
    std::memset(d, 0, sizeof(*d));
    d->YL = 34816;
    d->YU = 544;
    for (int k = 0; k < 6; ++k) d->DQ[k] = 32;
    d->SR1 = d->SR2 = 32;
    std::memcpy(d->DQLN, kDqln, sizeof(kDqln));
    std::memcpy(d->W, kW, sizeof(kW));
    std::memcpy(d->F, kF, sizeof(kF));
    for (int k = 0; k < 15; ++k) d->POW2[k] = static_cast<int16_t>(1 << k);
    return d;
}

int32_t G726StreamDecoderDecode(G726StreamDecoder *decoder, const uint8_t *input, int16_t *output,
                                int32_t length) {
    decoder->bitAccumulator = 0;
    decoder->bitCount = 0;
    if (length < 1) return length;
    int32_t written = 0;
    for (int32_t k = 0; k < length; ++k) {
        decoder->bitAccumulator |= static_cast<uint32_t>(input[k]) << decoder->bitCount;
        decoder->bitCount += 8;
        while (decoder->bitCount >= 3) {
            const int code = static_cast<int>(decoder->bitAccumulator & 7u);
            decoder->bitAccumulator >>= 3;
            decoder->bitCount -= 3;
            const int16_t sample = G726StreamDecodeCode(decoder, code);
            // The output need not be 2-byte aligned (it is a media sample buffer).
            std::memcpy(reinterpret_cast<unsigned char *>(output) + 2 * written++, &sample, 2);
        }
    }
    return written;
}

void G726StreamDecoderDestroy(G726StreamDecoder *decoder) { AlignedFree(decoder); }

namespace velkorix::binding {

void *G726StreamCreate() { return G726StreamDecoderCreate(); }

int32_t G726StreamDecode(CodecSlot &slot) {
    G726StreamDecoderDecode(static_cast<G726StreamDecoder *>(slot.instance), slot.input,
                            reinterpret_cast<int16_t *>(slot.output), slot.inputLength);
    return 1;
}

void G726StreamDestroy(void *instance) { G726StreamDecoderDestroy(static_cast<G726StreamDecoder *>(instance)); }

}  // namespace velkorix::binding
