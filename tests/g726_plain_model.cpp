#include "g726_plain_model.h"

#include <bit>

#include "g726/rates.h"

namespace velkorix::test {
namespace {

using voice::G726State;

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
    {2, 1, g726::kDecision16, g726::kDqln16, g726::kW16, g726::kF16, 8},
    {3, 3, g726::kDecision24, g726::kDqln24, g726::kW24, g726::kF24, 8},
    {4, 7, g726::kDecision32, g726::kDqln32, g726::kW32, g726::kF32, 8},
    {5, 15, g726::kDecision40, g726::kDqln40, g726::kW40, g726::kF40, 9},
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

void G726PackCodesLsbFirst(const uint8_t *codes, int count, int width, uint8_t *payload) {
    LsbWriter writer{payload};
    const int mask = (1 << width) - 1;
    for (int i = 0; i < count; ++i) writer.Put(codes[i] & mask, width);
    writer.Flush();
}

}  // namespace velkorix::test
