#include "voice/g726.h"

#include <bit>

namespace velkorix::voice {
namespace {

// Per-rate tables of ITU-T G.726, indexed by the full codeword I (sign
// included) except the decision levels, which bound the magnitude intervals
// of the normalized log difference (7 fractional bits). Units are the
// Recommendation's: DQLN with 7 fractional bits (-2048: zero difference),
// W(I) with 4 fractional bits, F(I) whole.
constexpr int16_t kDecision16[] = {261};
constexpr int16_t kDqln16[] = {116, 365, 365, 116};
constexpr int16_t kW16[] = {-22, 439, 439, -22};
constexpr int16_t kF16[] = {0, 7, 7, 0};

constexpr int16_t kDecision24[] = {8, 218, 331};
constexpr int16_t kDqln24[] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
constexpr int16_t kW24[] = {-4, 30, 137, 582, 582, 137, 30, -4};
constexpr int16_t kF24[] = {0, 1, 2, 7, 7, 2, 1, 0};

constexpr int16_t kDecision32[] = {-124, 80, 178, 246, 300, 349, 400};
constexpr int16_t kDqln32[] = {-2048, 4,   135, 213, 273, 323, 373, 425,
                               425,   373, 323, 273, 213, 135, 4,   -2048};
constexpr int16_t kW32[] = {-12, 18, 41, 64, 112, 198, 355, 1122, 1122, 355, 198, 112, 64, 41, 18, -12};
constexpr int16_t kF32[] = {0, 0, 0, 1, 1, 1, 3, 7, 7, 3, 1, 1, 1, 0, 0, 0};

constexpr int16_t kDecision40[] = {-122, -16, 68, 139, 198, 250, 298, 339, 378, 413, 445, 475, 502, 528, 553};
constexpr int16_t kDqln40[] = {-2048, -66, 28,  104, 169, 224, 274, 318, 358, 395, 429, 459, 488, 514, 539, 566,
                               566,   539, 514, 488, 459, 429, 395, 358, 318, 274, 224, 169, 104, 28,  -66, -2048};
constexpr int16_t kW40[] = {14,  14,  24,  39,  40,  41,  58,  100, 141, 179, 219, 280, 358, 440, 529, 696,
                            696, 529, 440, 358, 280, 219, 179, 141, 100, 58,  41,  40,  39,  24,  14,  14};
constexpr int16_t kF40[] = {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 3, 4, 5, 6, 6,
                            6, 6, 5, 4, 3, 2, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};

struct Rate {
    int width;
    int levels;  // number of decision levels
    const int16_t *decision;
    const int16_t *dqln;
    const int16_t *w;
    const int16_t *f;
    int leakShift;  // zero-predictor leak: 2^-8, and 2^-9 at 40 kbit/s
};

constexpr Rate kRates[4] = {
    {2, 1, kDecision16, kDqln16, kW16, kF16, 8},
    {3, 3, kDecision24, kDqln24, kW24, kF24, 8},
    {4, 7, kDecision32, kDqln32, kW32, kF32, 8},
    {5, 15, kDecision40, kDqln40, kW40, kF40, 9},
};

inline const Rate &RateOf(const G726State &s) { return kRates[s.codeWidth - 2]; }

inline int16_t Wrap16(int v) { return static_cast<int16_t>(v); }

// Number of significant bits of a non-negative value.
inline int BitLength(int v) { return static_cast<int>(std::bit_width(static_cast<unsigned>(v))); }

// FMULT: a 16-bit predictor coefficient times a value in floating form; the
// product is returned as a 16-bit two's complement value.
inline int FMult(int an, int srn) {
    const int anSign = an < 0;
    const int anMag = anSign ? (-(an >> 2)) & 8191 : an >> 2;
    const int anExp = BitLength(anMag);
    const int anMant = anMag == 0 ? 32 : (anMag << 6) >> anExp;
    const int srnSign = (srn >> 10) & 1;
    const int srnExp = (srn >> 6) & 15;
    const int srnMant = srn & 63;
    const int wanExp = srnExp + anExp;
    const int wanMant = (srnMant * anMant + 48) >> 4;
    const int wanMag = wanExp > 26 ? ((wanMant << 7) << (wanExp - 26)) & 32767 : (wanMant << 7) >> (26 - wanExp);
    return (srnSign ^ anSign) ? -wanMag : wanMag;
}

// Floating form (sign << 10 | exponent << 6 | mantissa) of a magnitude of up
// to 15 bits with its sign.
inline int FloatForm(int sign, int magnitude) {
    const int exp = BitLength(magnitude);
    const int mant = magnitude == 0 ? 32 : (magnitude << 6) >> exp;
    return (sign << 10) | (exp << 6) | mant;
}

// Values of one sample that the adaptation needs besides the state.
struct Prediction {
    int se;   // signal estimate, 15-bit two's complement
    int sez;  // partial estimate of the zero section
    int y;    // quantizer scale factor
};

inline Prediction Predict(const G726State &s) {
    int sezi = 0;
    for (int i = 0; i < 6; ++i) sezi += FMult(s.B[i], s.DQ[i]);
    sezi = Wrap16(sezi);
    const int sei = Wrap16(sezi + FMult(s.A2, s.SR2) + FMult(s.A1, s.SR1));

    // Mixing of the locked and unlocked scale factors under speed control;
    // the product is truncated toward zero.
    const int al = s.AP >= 256 ? 64 : s.AP >> 2;
    const int ylp = s.YL >> 6;
    const int dif = s.YU - ylp;
    const int prodm = ((dif < 0 ? -dif : dif) * al) >> 6;
    const int y = ylp + (dif < 0 ? -prodm : prodm);
    return {sei >> 1, sezi >> 1, y};
}

// Inverse quantizer and the whole state update for codeword `code`. Returns
// the reconstructed signal SR.
int16_t Adapt(G726State &s, const Rate &rate, const Prediction &p, int code) {
    // Inverse quantizer (ADDA, ANTILOG): sign-magnitude DQ.
    const int dqs = code >> (rate.width - 1);
    const int dql = rate.dqln[code] + (p.y >> 2);
    int dqMag = 0;
    if (dql >= 0) {
        const int dex = (dql >> 7) & 15;
        const int dqt = 128 + (dql & 127);
        dqMag = (dqt << 7) >> (14 - dex);
    }
    const int dq = dqs ? -dqMag : dqMag;

    // Reconstruction (ADDB, ADDC), 16-bit arithmetic.
    const int16_t sr = Wrap16(p.se + dq);
    const int dqsez = Wrap16(p.sez + dq);
    const int pk0 = dqsez < 0;
    const int sigpk = dqsez == 0;

    // Transition detector (TRANS) on the previous YL and TD.
    int tr = 0;
    if (s.TD) {
        const int ylint = s.YL >> 15;
        const int ylfrac = (s.YL >> 10) & 31;
        const int thr1 = (32 + ylfrac) << ylint;
        const int thr2 = ylint > 9 ? 31 << 10 : thr1;
        const int dqthr = (thr2 + (thr2 >> 1)) >> 1;
        tr = dqMag > dqthr;
    }

    // Pole coefficient A2 (UPA2, LIMC).
    const int pks1 = pk0 ^ s.PK1;
    const int pks2 = pk0 ^ s.PK2;
    const int fa1 = 4 * (s.A1 < -8191 ? -8191 : s.A1 > 8191 ? 8191 : s.A1);
    int uga2 = 0;
    if (!sigpk) uga2 = ((pks2 ? -16384 : 16384) + (pks1 ? fa1 : -fa1)) >> 7;
    int a2p = s.A2 + uga2 - (s.A2 >> 7);
    a2p = a2p < -12288 ? -12288 : a2p > 12288 ? 12288 : a2p;

    // Pole coefficient A1 (UPA1, LIMD).
    int uga1 = 0;
    if (!sigpk) uga1 = pks1 ? -192 : 192;
    int a1p = Wrap16(s.A1 + uga1 - (s.A1 >> 8));
    const int a1Limit = 15360 - a2p;
    a1p = a1p < -a1Limit ? -a1Limit : a1p > a1Limit ? a1Limit : a1p;

    // Tone detector (TONE, TRIGB).
    const int tdp = a2p < -11776;

    // Zero coefficients (UPB) against the delayed differences.
    int bp[6];
    for (int i = 0; i < 6; ++i) {
        int gradient = 0;
        if (dqMag != 0) gradient = (dqs ^ ((s.DQ[i] >> 10) & 1)) ? -128 : 128;
        bp[i] = Wrap16(s.B[i] + gradient - (s.B[i] >> rate.leakShift));
    }

    // Scale factor adaptation (FUNCTW, FILTD, LIMB, FILTE).
    const int yut = p.y + (((rate.w[code] << 5) - p.y) >> 5);
    const int yup = yut < 544 ? 544 : yut > 5120 ? 5120 : yut;
    s.YL = (s.YL + yup + ((-s.YL) >> 6)) & 524287;
    s.YU = yup;

    // Speed control (FUNCTF, FILTA, FILTB, SUBTC, FILTC, TRIGA).
    const int fi = rate.f[code];
    const int dmsp = s.DMS + (((fi << 9) - s.DMS) >> 5);
    const int dmlp = s.DML + (((fi << 11) - s.DML) >> 7);
    const int difm = (dmsp << 2) - dmlp;
    const int ax = (p.y >= 1536 && (difm < 0 ? -difm : difm) < (dmlp >> 3) && !tdp) ? 0 : 1;
    const int app = s.AP + (((ax << 9) - s.AP) >> 4);
    s.DMS = dmsp;
    s.DML = dmlp;
    s.AP = tr ? 256 : app;

    // Coefficients, reset on a transition (TRIGB).
    s.A1 = tr ? 0 : a1p;
    s.A2 = tr ? 0 : a2p;
    for (int i = 0; i < 6; ++i) s.B[i] = tr ? 0 : bp[i];
    s.TD = tr ? 0 : tdp;

    // Delay line (FLOATA, FLOATB).
    for (int i = 5; i > 0; --i) s.DQ[i] = s.DQ[i - 1];
    s.DQ[0] = FloatForm(dqs, dqMag);
    s.SR2 = s.SR1;
    s.SR1 = sr < 0 ? FloatForm(1, (-sr) & 32767) : FloatForm(0, sr);
    s.PK2 = s.PK1;
    s.PK1 = pk0;
    return sr;
}

// Adaptive quantizer (LOG, SUBTB, QUAN): codeword of the difference d.
inline int Quantize(const Rate &rate, int d, int y) {
    const int ds = d < 0;
    const int dqm = ds ? -d : d;
    const int exp = dqm == 0 ? 0 : BitLength(dqm) - 1;
    const int dl = (exp << 7) + (((dqm << 7) >> exp) & 127);
    const int dln = dl - (y >> 2);
    int magnitude = 0;
    while (magnitude < rate.levels && dln >= rate.decision[magnitude]) ++magnitude;
    const int ones = (1 << rate.width) - 1;
    const int code = ds ? ones - magnitude : magnitude;
    // Above 16 kbit/s the all-zero codeword is not sent: the smallest
    // interval uses the all-ones codeword for both signs.
    return (code == 0 && rate.width > 2) ? ones : code;
}

// LSB-first bit writer over a byte buffer.
struct LsbWriter {
    uint8_t *out;
    uint32_t bits = 0;
    int count = 0;
    void Put(int code, int width) {
        bits |= static_cast<uint32_t>(code) << count;
        count += width;
        while (count >= 8) {
            *out++ = static_cast<uint8_t>(bits);
            bits >>= 8;
            count -= 8;
        }
    }
    void Flush() {
        if (count > 0) *out++ = static_cast<uint8_t>(bits);
        bits = 0;
        count = 0;
    }
};

}  // namespace

int G726CodeWidth(int type) {
    switch (type) {
        case 4:
        case 36: return 2;
        case 5:
        case 37: return 3;
        case 6:
        case 38: return 4;
        case 7:
        case 39: return 5;
        default: return 0;
    }
}

void G726Reset(G726State &s, int codeWidth) {
    s.law = kG726LinearPcm;
    s.codeWidth = codeWidth;
    s.A1 = s.A2 = 0;
    s.AP = 0;
    for (int i = 0; i < 6; ++i) {
        s.B[i] = 0;
        s.DQ[i] = 32;
    }
    s.DML = s.DMS = 0;
    s.PK1 = s.PK2 = 0;
    s.SR1 = s.SR2 = 32;
    s.TD = 0;
    s.YL = 34816;
    s.YU = 544;
}

int G726EncodeSample(G726State &s, int16_t x) {
    const Rate &rate = RateOf(s);
    const Prediction p = Predict(s);
    const int sl = x >> 2;  // 14-bit uniform input
    const int code = Quantize(rate, sl - p.se, p.y);
    Adapt(s, rate, p, code);
    return code;
}

int16_t G726DecodeSample(G726State &s, int code) {
    const Rate &rate = RateOf(s);
    const Prediction p = Predict(s);
    return Adapt(s, rate, p, code & ((1 << rate.width) - 1));
}

void G726PackLsbFirst(G726State &s, const int16_t *pcm, uint8_t *payload, int count) {
    const Rate &rate = RateOf(s);
    const int even = count & ~1;
    LsbWriter writer{payload};
    for (int i = 0; i < even; ++i) {
        const Prediction p = Predict(s);
        const int code = Quantize(rate, (pcm[i] >> 2) - p.se, p.y);
        Adapt(s, rate, p, code);
        writer.Put(code, rate.width);
    }
    writer.Flush();
}

int G726UnpackLsbFirst(G726State &s, const uint8_t *payload, int16_t *pcm, int bytes) {
    const Rate &rate = RateOf(s);
    const int width = rate.width;
    const int mask = (1 << width) - 1;
    const int codes = 8 * bytes / width;
    uint32_t bits = 0;
    int count = 0;
    for (int i = 0; i < codes; ++i) {
        if (count < width) {
            bits |= static_cast<uint32_t>(*payload++) << count;
            count += 8;
        }
        const int code = static_cast<int>(bits) & mask;
        bits >>= width;
        count -= width;
        const Prediction p = Predict(s);
        pcm[i] = G726OutputSample(Adapt(s, rate, p, code));
    }
    return codes;
}

void G726PackCodesLsbFirst(const uint8_t *codes, int count, int width, uint8_t *payload) {
    LsbWriter writer{payload};
    const int mask = (1 << width) - 1;
    for (int i = 0; i < count; ++i) writer.Put(codes[i] & mask, width);
    writer.Flush();
}

int G726ReorderToMsb(uint8_t *payload, int width, int bytes) {
    if (width <= 0 || bytes < 0 || (8 * bytes) % width != 0) return -1;
    const int mask = (1 << width) - 1;
    int p = 0;             // bit position in the current byte
    uint32_t acc = 0;      // codewords read, appended from the right
    uint8_t *at = payload;
    const uint8_t *end = payload + bytes;
    while (at < end) {
        uint32_t window = *at;
        if (p + width > 8 && at + 1 < end) window |= static_cast<uint32_t>(at[1]) << 8;
        acc = (acc << width) | ((window >> p) & mask);
        if (p + width >= 8) {
            const int rest = p + width - 8;
            *at++ = static_cast<uint8_t>(acc >> rest);
            acc &= (1u << rest) - 1;
            p = rest;
        } else {
            p += width;
        }
    }
    return 0;
}

int G726ReorderToLsb(uint8_t *payload, int width, int bytes) {
    if (width <= 0 || bytes < 0 || (8 * bytes) % width != 0) return -1;
    const int mask = (1 << width) - 1;
    int p = 0;             // bit position in the current byte, from the top
    uint32_t acc = 0;      // codewords read, assembled from the bottom
    uint8_t *at = payload;
    const uint8_t *end = payload + bytes;
    while (at < end) {
        uint32_t window = static_cast<uint32_t>(*at) << 8;
        if (p + width > 8 && at + 1 < end) window |= at[1];
        acc |= ((window >> (16 - p - width)) & mask) << p;
        if (p + width >= 8) {
            const int rest = p + width - 8;
            *at++ = static_cast<uint8_t>(acc);
            acc >>= 8;
            p = rest;
        } else {
            p += width;
        }
    }
    return 0;
}

}  // namespace velkorix::voice
