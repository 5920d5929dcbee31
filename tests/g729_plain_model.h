// A second G.729 Annex A decoder, written for the tests from the decoding
// steps alone: every sum in its plain order (first term first), one sample at
// a time, no vector code, nothing shared with the decoder under test but the
// Recommendation's large tables (codebooks, predictors, interpolation filter).
// The small constants (gaps, limits, predictor coefficients, index maps,
// filter coefficients) are written here again. It works in float, like the
// decoder, or in double, which shows where a float decision lies close to
// its threshold; `Acc` is the type in which sums are accumulated (float sums
// rounded after every term, or wider). It records the decisions it takes,
// frame by frame.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "g729/g729_tables.h"

namespace g729test {

namespace g729 = velkorix::g729;

// What the model decided in one frame.
struct PlainTrace {
    int32_t params[11] = {};   // unpacked, [3] = parity error
    int32_t pitchLag[2] = {};  // integer delay of each subframe
    int32_t pitchFraction[2] = {};
    double lsf[10] = {};       // after the stability steps
    int orderSwaps = 0;        // exchanges of the ordering pass
    int distanceRaises = 0;    // raises of the minimum-distance pass
    bool lowClamp = false, highClamp = false;
    double gainPitch[2] = {}, gainCode[2] = {};
    // Post-filter, per subframe.
    int32_t postDelay[2] = {};     // the kept delay
    double cor[2] = {};            // its correlation (before the 0 floor)
    int32_t searchFrom[2] = {};    // tmin
    int32_t searchTo[2] = {};      // tmax
    double correlation[2][7] = {}; // at tmin, tmin + 1, ..., tmax
    double delayedEnergy[2] = {};  // Et
    double currentEnergy[2] = {};  // E0
    bool pitchFilterOn[2] = {};
    bool gainCapped[2] = {};       // cor > Et
    double tilt[2] = {};           // k
};

template <typename T, typename Acc = T>
class PlainG729 {
public:
    static constexpr int kPast = 154;    // past excitation
    static constexpr int kResPast = 143; // past post-filter residual

    PlainG729() {
        const double lsfReset[10] = {0.285599, 0.571199, 0.856798, 1.142397, 1.427997,
                                     1.713596, 1.999195, 2.284795, 2.570394, 2.855993};
        const double lspReset[10] = {0.9595, 0.8413, 0.6549, 0.4154, 0.1423,
                                     -0.1423, -0.4154, -0.6549, -0.8413, -0.9595};
        for (int k = 0; k < 4; ++k)
            for (int j = 0; j < 10; ++j) lsfHistory[k][j] = static_cast<T>(static_cast<float>(lsfReset[j]));
        for (int j = 0; j < 10; ++j) lspOld[j] = static_cast<T>(static_cast<float>(lspReset[j]));
        for (T &q : pastEnergy) q = T(-14);
    }

    // ---- State, public so that tests can set it up and read it ----
    T synth[90] = {};            // 10 samples of the previous frame, then 80
    T lsfHistory[4][10];
    T pastEnergy[4];
    T exc[kPast + 80] = {};
    T lspOld[10];
    T synthMemory[10] = {};      // oldest first
    T sharpness = T(0.2);
    int32_t previousLag = 60;
    T agcGain = T(1);
    T tiltMemory = T(0);
    T residual[kResPast + 40] = {};
    T postMemory[10] = {};       // oldest first
    T hpX1 = 0, hpX2 = 0, hpY1 = 0, hpY2 = 0;
    T lpc[2][11] = {};
    PlainTrace trace;

    // ---- Single steps ----

    // The bit string of a frame, most significant bit of byte 0 first, cut
    // into the 11 parameters; [3] becomes the parity result.
    static void Unpack(const uint8_t frame[10], int32_t params[11]) {
        const int widths[11] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};
        int bit = 0;
        for (int i = 0; i < 11; ++i) {
            int32_t v = 0;
            for (int b = 0; b < widths[i]; ++b, ++bit) v = v * 2 + ((frame[bit / 8] >> (7 - bit % 8)) & 1);
            params[i] = v;
        }
        int32_t ones = params[3];
        for (int b = 2; b <= 7; ++b) ones += (params[2] >> b) & 1;
        params[3] = ones % 2 == 1 ? 0 : 1;
    }

    // Rearrangement pass: neighbours closer than `gap` are pulled apart.
    static void Rearrange(T buf[10], T gap) {
        for (int j = 1; j <= 9; ++j) {
            const T t = (buf[j - 1] - buf[j] + gap) * T(0.5);
            if (t > 0) {
                buf[j - 1] = buf[j - 1] - t;
                buf[j] = buf[j] + t;
            }
        }
    }

    // The codebook vector of L1, L2, L3 after both rearrangement passes.
    static void CodebookVector(int l1, int l2, int l3, T buf[10]) {
        for (int j = 0; j < 10; ++j)
            buf[j] = static_cast<T>(g729::kLspcb1[l1][j]) + static_cast<T>(g729::kLspcb2[j < 5 ? l2 : l3][j]);
        Rearrange(buf, static_cast<T>(0.0012f));
        Rearrange(buf, static_cast<T>(0.0006f));
    }

    // Stability steps on lsf, recording what they did.
    static void Stabilize(T lsf[10], PlainTrace *tr) {
        for (int j = 0; j <= 8; ++j) {
            if (lsf[j + 1] - lsf[j] < 0) {
                const T t = lsf[j];
                lsf[j] = lsf[j + 1];
                lsf[j + 1] = t;
                if (tr) ++tr->orderSwaps;
            }
        }
        if (lsf[0] < static_cast<T>(0.005f)) {
            lsf[0] = static_cast<T>(0.005f);
            if (tr) tr->lowClamp = true;
        }
        for (int j = 0; j <= 8; ++j) {
            if (lsf[j + 1] - lsf[j] < static_cast<T>(0.0392f)) {
                lsf[j + 1] = lsf[j] + static_cast<T>(0.0392f);
                if (tr) ++tr->distanceRaises;
            }
        }
        if (lsf[9] > static_cast<T>(3.135f)) {
            lsf[9] = static_cast<T>(3.135f);
            if (tr) tr->highClamp = true;
        }
    }

    // LSPs of this frame from params[0], params[1]; moves the MA memory on.
    void DecodeLsp(const int32_t params[11], T lsp[10]) {
        const int mode = params[0] >> 7, l1 = params[0] & 127, l2 = params[1] >> 5, l3 = params[1] & 31;
        T buf[10];
        CodebookVector(l1, l2, l3, buf);
        T lsf[10];
        for (int j = 0; j < 10; ++j) {
            // fg_sum: one minus the sum of the predictor's four coefficients.
            T sum = T(1);
            for (int k = 0; k < 4; ++k) sum = sum - static_cast<T>(g729::kFg[mode][k][j]);
            Acc v = static_cast<Acc>(sum) * buf[j];
            for (int k = 0; k < 4; ++k) v = v + static_cast<Acc>(g729::kFg[mode][k][j]) * lsfHistory[k][j];
            lsf[j] = static_cast<T>(v);
        }
        for (int k = 3; k >= 1; --k)
            for (int j = 0; j < 10; ++j) lsfHistory[k][j] = lsfHistory[k - 1][j];
        for (int j = 0; j < 10; ++j) lsfHistory[0][j] = buf[j];
        Stabilize(lsf, &trace);
        for (int j = 0; j < 10; ++j) {
            trace.lsf[j] = static_cast<double>(lsf[j]);
            lsp[j] = static_cast<T>(std::cos(static_cast<double>(lsf[j])));
        }
    }

    // a[0..10] from LSPs: the two polynomials multiplied out factor by factor.
    static void LspToLpc(const T lsp[10], T a[11]) {
        T f[2][11];
        for (int which = 0; which < 2; ++which) {
            T *p = f[which];
            for (int i = 0; i < 11; ++i) p[i] = 0;
            p[0] = 1;
            int degree = 0;
            for (int k = which; k < 10; k += 2) {
                // p(z) * (1 - 2 lsp[k] z^-1 + z^-2)
                T next[11];
                for (int i = 0; i < 11; ++i) next[i] = 0;
                const T b = T(-2) * lsp[k];
                for (int i = 0; i <= degree; ++i) {
                    next[i] = next[i] + p[i];
                    next[i + 1] = next[i + 1] + b * p[i];
                    next[i + 2] = next[i + 2] + p[i];
                }
                degree += 2;
                for (int i = 0; i < 11; ++i) p[i] = next[i];
            }
        }
        T *f1 = f[0], *f2 = f[1];
        for (int i = 5; i >= 1; --i) {
            f1[i] = f1[i] + f1[i - 1];
            f2[i] = f2[i] - f2[i - 1];
        }
        a[0] = 1;
        for (int i = 1; i <= 5; ++i) {
            a[i] = T(0.5) * (f1[i] + f2[i]);
            a[11 - i] = T(0.5) * (f1[i] - f2[i]);
        }
    }

    void Interpolate(const T lsp[10]) {
        T middle[10];
        for (int j = 0; j < 10; ++j) middle[j] = T(0.5) * lspOld[j] + T(0.5) * lsp[j];
        LspToLpc(middle, lpc[0]);
        LspToLpc(lsp, lpc[1]);
        for (int j = 0; j < 10; ++j) lspOld[j] = lsp[j];
    }

    // Four unit pulses from the 13-bit position index and the 4-bit signs.
    static void FixedCodebook(int32_t cb, int32_t sg, T code[40]) {
        for (int n = 0; n < 40; ++n) code[n] = 0;
        const int bits29 = cb % 8, bits53 = (cb / 8) % 8, bits86 = (cb / 64) % 8, bit9 = (cb / 512) % 2,
                  bits1210 = (cb / 1024) % 8;
        const int position[4] = {5 * bits29, 5 * bits53 + 1, 5 * bits86 + 2, 5 * bits1210 + bit9 + 3};
        for (int k = 0; k < 4; ++k) code[position[k]] = ((sg >> k) & 1) ? T(1) : T(-1);
    }

    // One subframe's excitation into exc[kPast + 40 sf ...].
    void Excitation(const int32_t params[11], int sf) {
        // Pitch delay.
        int32_t t0, frac;
        if (sf == 0) {
            const int32_t p1 = params[2];
            if (params[3] == 1) {
                t0 = previousLag;
                frac = 0;
            } else if (p1 < 197) {
                t0 = (p1 + 2) / 3 + 19;
                frac = p1 - 3 * ((p1 + 2) / 3) + 1;
            } else {
                t0 = p1 - 112;
                frac = 0;
            }
        } else {
            int32_t tmin = trace.pitchLag[0] - 5;
            if (tmin < 20) tmin = 20;
            if (tmin + 9 > 143) tmin = 134;
            const int32_t k = (params[7] + 2) / 3 - 1;
            t0 = tmin + k;
            frac = params[7] - 2 - 3 * k;
            previousLag = t0;
        }
        trace.pitchLag[sf] = t0;
        trace.pitchFraction[sf] = frac;

        // Adaptive codebook, sample by sample over the subframe.
        T *e = exc + kPast + 40 * sf;
        int f = -frac;
        const T *base = e - t0;
        if (f < 0) {
            f += 3;
            base -= 1;
        }
        for (int n = 0; n < 40; ++n) {
            Acc s = 0;
            for (int i = 0; i < 10; ++i) {
                s = s + static_cast<Acc>(base[n - i]) * static_cast<T>(g729::kInter3l[f + 3 * i]);
                s = s + static_cast<Acc>(base[n + 1 + i]) * static_cast<T>(g729::kInter3l[3 - f + 3 * i]);
            }
            e[n] = static_cast<T>(s);
        }

        // Fixed codebook with pitch sharpening.
        T code[40];
        FixedCodebook(sf == 0 ? params[4] : params[8], sf == 0 ? params[5] : params[9], code);
        for (int n = t0; n < 40; ++n) code[n] = code[n] + sharpness * code[n - t0];

        // Gains.
        const int32_t g = sf == 0 ? params[6] : params[10];
        const int imap1[8] = {5, 1, 7, 4, 2, 0, 6, 3};
        const int imap2[16] = {2, 14, 3, 13, 0, 15, 1, 12, 6, 10, 7, 9, 4, 11, 5, 8};
        const int i1 = imap1[g >> 4], i2 = imap2[g & 15];
        const T gp = static_cast<T>(g729::kGbk1[i1][0]) + static_cast<T>(g729::kGbk2[i2][0]);
        const T gamma = static_cast<T>(g729::kGbk1[i1][1]) + static_cast<T>(g729::kGbk2[i2][1]);
        Acc sumSquares = static_cast<T>(0.01f);
        for (int n = 0; n < 40; ++n) sumSquares = sumSquares + static_cast<Acc>(code[n]) * code[n];
        const T energy = static_cast<T>(sumSquares);
        const double predicted = 36.0 - 10.0 * std::log10(static_cast<double>(energy) / 40.0) +
                                 0.68 * static_cast<double>(pastEnergy[0]) + 0.58 * static_cast<double>(pastEnergy[1]) +
                                 0.34 * static_cast<double>(pastEnergy[2]) + 0.19 * static_cast<double>(pastEnergy[3]);
        const T gc = gamma * static_cast<T>(std::pow(10.0, predicted / 20.0));
        pastEnergy[3] = pastEnergy[2];
        pastEnergy[2] = pastEnergy[1];
        pastEnergy[1] = pastEnergy[0];
        pastEnergy[0] = static_cast<T>(20.0 * std::log10(static_cast<double>(gamma)));
        trace.gainPitch[sf] = static_cast<double>(gp);
        trace.gainCode[sf] = static_cast<double>(gc);

        T s = gp;
        if (s > static_cast<T>(0.7945f)) s = static_cast<T>(0.7945f);
        if (s < static_cast<T>(0.2f)) s = static_cast<T>(0.2f);
        sharpness = s;

        for (int n = 0; n < 40; ++n) e[n] = gp * e[n] + gc * code[n];
    }

    // s[n] = e[n] - sum a[i] s[n-i], the memory supplying s before the block.
    static void AllPole(const T a[11], const T *x, T *y, int n, T memory[10], bool update) {
        T buf[10 + 80];
        for (int i = 0; i < 10; ++i) buf[i] = memory[i];
        for (int k = 0; k < n; ++k) {
            Acc v = x[k];
            for (int i = 1; i <= 10; ++i) v = v - static_cast<Acc>(a[i]) * buf[10 + k - i];
            buf[10 + k] = static_cast<T>(v);
        }
        for (int k = 0; k < n; ++k) y[k] = buf[10 + k];
        if (update)
            for (int i = 0; i < 10; ++i) memory[i] = buf[n + i];
    }

    void Synthesize(int sf) { AllPole(lpc[sf], exc + kPast + 40 * sf, synth + 10 + 40 * sf, 40, synthMemory, true); }

    // Pitch post-filter of the residual r (r[-143..-1] its past) into p.
    void PitchPostFilter(const T *r, int32_t tmin, int32_t tmax, T p[40], int sf) {
        T best = static_cast<T>(-1e38f);
        int32_t t = tmin;
        trace.searchFrom[sf] = tmin;
        trace.searchTo[sf] = tmax;
        for (int32_t k = tmin; k <= tmax; ++k) {
            Acc sum = 0;
            for (int n = 0; n < 40; ++n) sum = sum + static_cast<Acc>(r[n]) * r[n - k];
            const T c = static_cast<T>(sum);
            trace.correlation[sf][k - tmin] = static_cast<double>(c);
            if (c > best) {
                best = c;
                t = k;
            }
        }
        Acc etSum = static_cast<T>(0.5f), e0Sum = static_cast<T>(0.5f);
        for (int n = 0; n < 40; ++n) etSum = etSum + static_cast<Acc>(r[n - t]) * r[n - t];
        for (int n = 0; n < 40; ++n) e0Sum = e0Sum + static_cast<Acc>(r[n]) * r[n];
        const T et = static_cast<T>(etSum), e0 = static_cast<T>(e0Sum);
        trace.postDelay[sf] = t;
        trace.cor[sf] = static_cast<double>(best);
        trace.delayedEnergy[sf] = static_cast<double>(et);
        trace.currentEnergy[sf] = static_cast<double>(e0);
        T cor = best < 0 ? T(0) : best;
        if (cor * cor < T(0.5) * et * e0) {
            for (int n = 0; n < 40; ++n) p[n] = r[n];
            trace.pitchFilterOn[sf] = false;
            trace.gainCapped[sf] = false;
            return;
        }
        trace.pitchFilterOn[sf] = true;
        T g0, g;
        if (cor > et) {
            g0 = static_cast<T>(0.6666667f);
            g = static_cast<T>(0.33333334f);
            trace.gainCapped[sf] = true;
        } else {
            g = T(0.5) * cor / (et + T(0.5) * cor);
            g0 = T(1) - g;
            trace.gainCapped[sf] = false;
        }
        for (int n = 0; n < 40; ++n) p[n] = g0 * r[n] + g * r[n - t];
    }

    void PostFilter() {
        const double numFactor = 0.55, denFactor = 0.7;
        T y[80];
        for (int sf = 0; sf < 2; ++sf) {
            const T *a = lpc[sf];
            const T *s = synth + 10 + 40 * sf;
            int32_t tmin = trace.pitchLag[sf] - 3, tmax = trace.pitchLag[sf] + 3;
            if (tmax > 143) {
                tmax = 143;
                tmin = 137;
            }
            T num[11], den[11];
            for (int i = 0; i <= 10; ++i) {
                num[i] = a[i] * static_cast<T>(static_cast<float>(std::pow(numFactor, i)));
                den[i] = a[i] * static_cast<T>(static_cast<float>(std::pow(denFactor, i)));
            }
            T *r = residual + kResPast;
            for (int n = 0; n < 40; ++n) {
                Acc v = s[n];
                for (int i = 1; i <= 10; ++i) v = v + static_cast<Acc>(num[i]) * s[n - i];
                r[n] = static_cast<T>(v);
            }
            T p[40];
            PitchPostFilter(r, tmin, tmax, p, sf);

            // Tilt compensation.
            T h[22];
            for (int i = 0; i < 22; ++i) h[i] = i <= 10 ? num[i] : T(0);
            T zero[10] = {};
            AllPole(den, h, h, 22, zero, false);
            Acc r0Sum = 0, r1Sum = 0;
            for (int i = 0; i < 22; ++i) r0Sum = r0Sum + static_cast<Acc>(h[i]) * h[i];
            for (int i = 0; i < 21; ++i) r1Sum = r1Sum + static_cast<Acc>(h[i]) * h[i + 1];
            const T r0 = static_cast<T>(r0Sum), r1 = static_cast<T>(r1Sum);
            const T k = r1 > 0 ? static_cast<T>(0.8f) * r1 / r0 : T(0);
            trace.tilt[sf] = static_cast<double>(k);
            const T last = p[39];
            for (int n = 39; n >= 1; --n) p[n] = p[n] - k * p[n - 1];
            p[0] = p[0] - k * tiltMemory;
            tiltMemory = last;

            T *out = y + 40 * sf;
            AllPole(den, p, out, 40, postMemory, true);

            Acc eoutSum = 0;
            for (int n = 0; n < 40; ++n) eoutSum = eoutSum + static_cast<Acc>(out[n]) * out[n];
            const T eout = static_cast<T>(eoutSum);
            if (eout == 0) {
                agcGain = 0;
            } else {
                Acc einSum = 0;
                for (int n = 0; n < 40; ++n) einSum = einSum + static_cast<Acc>(s[n]) * s[n];
                const T ein = static_cast<T>(einSum);
                const T g0 = ein == 0 ? T(0) : static_cast<T>(0.1f) * static_cast<T>(std::sqrt(ein / eout));
                for (int n = 0; n < 40; ++n) {
                    agcGain = static_cast<T>(0.9f) * agcGain + g0;
                    out[n] = out[n] * agcGain;
                }
            }
            for (int i = 0; i < kResPast; ++i) residual[i] = residual[i + 40];
        }
        for (int i = 0; i < 10; ++i) synth[i] = synth[80 + i];
        for (int n = 0; n < 80; ++n) synth[10 + n] = y[n];
    }

    T HighPass(T x) {
        const T out = static_cast<T>(static_cast<Acc>(static_cast<T>(0.93980581f)) * x +
                                     static_cast<Acc>(static_cast<T>(-1.8795834f)) * hpX1 +
                                     static_cast<Acc>(static_cast<T>(0.93980581f)) * hpX2 +
                                     static_cast<Acc>(static_cast<T>(1.9330735f)) * hpY1 +
                                     static_cast<Acc>(static_cast<T>(-0.93589199f)) * hpY2);
        hpX2 = hpX1;
        hpX1 = x;
        hpY2 = hpY1;
        hpY1 = out;
        return out;
    }

    static int16_t ToPcm(T y) {
        if (std::isnan(static_cast<double>(y))) return 0;
        double v = static_cast<double>(y);
        v = v >= 0 ? v + 0.5 : v - 0.5;
        if (v > 32767.0) v = 32767.0;
        if (v < -32768.0) v = -32768.0;
        return static_cast<int16_t>(static_cast<int32_t>(v));
    }

    // One frame: 10 bytes in, 80 samples out.
    void Decode(const uint8_t frame[10], int16_t pcm[80]) {
        trace = PlainTrace{};
        int32_t params[11];
        Unpack(frame, params);
        std::memcpy(trace.params, params, sizeof(params));
        T lsp[10];
        DecodeLsp(params, lsp);
        Interpolate(lsp);
        for (int sf = 0; sf < 2; ++sf) {
            Excitation(params, sf);
            Synthesize(sf);
        }
        for (int i = 0; i < kPast; ++i) exc[i] = exc[i + 80];
        PostFilter();
        for (int n = 0; n < 80; ++n) {
            synth[10 + n] = HighPass(synth[10 + n]);
            pcm[n] = ToPcm(synth[10 + n]);
        }
    }
};

}  // namespace g729test
