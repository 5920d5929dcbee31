// LSP decoding: the two-stage LSF codebook with switched MA prediction, the
// stability steps, conversion to the cosine domain, and interpolation into
// the LP coefficients of both subframes.
#include <cmath>
#include <cstring>

#include "g729/g729_decoder.h"
#include "g729/g729_tables.h"

namespace velkorix::g729 {

namespace {

constexpr int M = kG729LpcOrder;
constexpr int kFirstHalf = 5;             // coefficients 0-4 come from L2, 5-9 from L3
constexpr float kGapCoarse = 0.0012f;     // first rearrangement pass
constexpr float kGapFine = 0.0006f;       // second rearrangement pass
constexpr float kLowLimit = 0.005f;       // smallest first LSF (radians)
constexpr float kHighLimit = 3.135f;      // largest last LSF (radians)
constexpr float kMinDistance = 0.0392f;   // smallest distance of neighbouring LSFs

// Pulls neighbours apart that are closer than `gap`; each step sees the values
// left by the step before it.
void Rearrange(float buf[M], float gap) {
    for (int j = 1; j < M; ++j) {
        const float t = (buf[j - 1] - buf[j] + gap) * 0.5f;
        if (t > 0.0f) {
            buf[j - 1] -= t;
            buf[j] += t;
        }
    }
}

// Coefficients f[0..5] of the product of (1 - 2 lsp[2k] z^-1 + z^-2) over
// k = 0..4, reading every second element of `lsp`. Multiplying by one factor
// makes f[i] depend on f[0..i] only, so the first six coefficients are
// carried alone (the product is symmetric; the rest mirror them).
void SumPolynomial(const float *lsp, float f[6]) {
    float f1 = 0.0f, f2 = 0.0f, f3 = 0.0f, f4 = 0.0f, f5 = 0.0f;  // f0 stays 1
    for (int k = 0; k < 5; ++k) {
        const float b = -2.0f * lsp[2 * k];
        f5 += b * f4 + f3;
        f4 += b * f3 + f2;
        f3 += b * f2 + f1;
        f2 += b * f1 + 1.0f;
        f1 += b;
    }
    f[0] = 1.0f;
    f[1] = f1;
    f[2] = f2;
    f[3] = f3;
    f[4] = f4;
    f[5] = f5;
}

}  // namespace

void G729StabilizeLsf(float lsf[M]) {
    // One ordering pass: a single exchange per neighbour pair.
    for (int j = 0; j < M - 1; ++j) {
        if (lsf[j + 1] - lsf[j] < 0.0f) {
            const float t = lsf[j + 1];
            lsf[j + 1] = lsf[j];
            lsf[j] = t;
        }
    }
    if (lsf[0] < kLowLimit) {
        lsf[0] = kLowLimit;
        G729Diagnostic(kG729LspLowWarning);
    }
    for (int j = 0; j < M - 1; ++j) {
        if (lsf[j + 1] - lsf[j] < kMinDistance) lsf[j + 1] = lsf[j] + kMinDistance;
    }
    if (lsf[M - 1] > kHighLimit) {
        lsf[M - 1] = kHighLimit;
        G729Diagnostic(kG729LspHighWarning);
    }
}

void G729DecodeLsp(G729Decoder *d, float lsp[M]) {
    const int32_t p0 = d->params[0];
    const int32_t p1 = d->params[1];
    const int mode = (p0 >> 7) & 1;   // L0: MA predictor
    const int l1 = p0 & 0x7F;         // first-stage index
    const int l2 = (p1 >> 5) & 0x1F;  // second stage, coefficients 0-4
    const int l3 = p1 & 0x1F;         // second stage, coefficients 5-9

    float buf[M];
    for (int j = 0; j < kFirstHalf; ++j) buf[j] = kLspcb1[l1][j] + kLspcb2[l2][j];
    for (int j = kFirstHalf; j < M; ++j) buf[j] = kLspcb1[l1][j] + kLspcb2[l3][j];
    Rearrange(buf, kGapCoarse);
    Rearrange(buf, kGapFine);

    // MA prediction from the rearranged codebook vectors of the last four frames.
    float lsf[M];
    const float(*fg)[M] = kFg[mode];
    const float *fgSum = kFgSum[mode];
    for (int j = 0; j < M; ++j) {
        lsf[j] = fgSum[j] * buf[j] + fg[0][j] * d->lsfHistory[0][j] + fg[1][j] * d->lsfHistory[1][j] +
                 fg[2][j] * d->lsfHistory[2][j] + fg[3][j] * d->lsfHistory[3][j];
    }
    std::memmove(d->lsfHistory[1], d->lsfHistory[0], sizeof(d->lsfHistory[0]) * 3);
    std::memcpy(d->lsfHistory[0], buf, sizeof(buf));

    G729StabilizeLsf(lsf);
    for (int j = 0; j < M; ++j) lsp[j] = static_cast<float>(std::cos(static_cast<double>(lsf[j])));
}

void G729LspToLpc(const float lsp[M], float a[M + 1]) {
    float f1[6], f2[6];
    SumPolynomial(lsp, f1);      // even-indexed LSPs
    SumPolynomial(lsp + 1, f2);  // odd-indexed LSPs
    // F1 times (1 + z^-1), F2 times (1 - z^-1).
    for (int i = 5; i > 0; --i) {
        f1[i] += f1[i - 1];
        f2[i] -= f2[i - 1];
    }
    a[0] = 1.0f;
    for (int i = 1; i <= 5; ++i) {
        a[i] = 0.5f * (f1[i] + f2[i]);
        a[M + 1 - i] = 0.5f * (f1[i] - f2[i]);
    }
}

void G729InterpolateLpc(G729Decoder *d, const float lsp[M]) {
    float middle[M];
    for (int j = 0; j < M; ++j) middle[j] = 0.5f * d->lspOld[j] + 0.5f * lsp[j];
    G729LspToLpc(middle, d->lpcCoeffs[0]);
    G729LspToLpc(lsp, d->lpcCoeffs[1]);
    std::memcpy(d->lspOld, lsp, sizeof(d->lspOld));
}

}  // namespace velkorix::g729
