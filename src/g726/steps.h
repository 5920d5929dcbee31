// One G.726 sample through any predictor (g726::PortablePredictor or one of
// g726/avx2.h): the steps of g726/core.h in their order. The codecs' kernel
// bodies include this header after their kernel file's target pragma, so
// that it is compiled for the kernel's instruction set and the vector
// predictors inline into it; everything here is local to the translation
// unit that includes it (its copies for different instruction sets never
// meet). Include g726/core.h and g726/avx2.h before the pragma.
#pragma once

#include <cstdint>

#include "g726/core.h"

namespace velkorix::g726 {
namespace {

// The rest of a sample once its codeword `code` (of `Width` bits, the top
// one its sign) and the inverse quantizer's answer for it are known:
// reconstruction and the whole adaptation. `w32` and `f512` are the rate's
// W(I) x 32 and F(I) x 512 by code. Returns the sample's values; SR is not
// limited.
template <int Width, class Predictor, class Entry>
VELKORIX_ALWAYS_INLINE Sample Update(Registers &r, Predictor &p, int code, int32_t y, uint32_t quantized, Estimate e,
                                     const Entry *w32, const Entry *f512) {
    const Sample s = Reconstruct(code, (code >> (Width - 1)) != 0, y, quantized, e);
    const bool tr = AdaptScalars(r, w32, f512, s);
    p.Adapt(r, s, quantized, tr, kZeroLeak<Width>);
    return s;
}

// One codeword through the decoder: estimate, scale factor, inverse
// quantizer (`dqln` is the rate's DQLN by code), reconstruction and
// adaptation. Returns SR, not limited.
template <int Width, class Predictor, class Entry>
VELKORIX_ALWAYS_INLINE int32_t DecodeCode(Registers &r, Predictor &p, int code, const int16_t *dqln, const Entry *w32,
                                          const Entry *f512) {
    const Estimate e = p.Predict(r);
    const int32_t y = ScaleFactor(r);
    return Update<Width>(r, p, code, y, InverseQuantize(dqln[code], y), e, w32, f512).sr;
}


}  // namespace
}  // namespace velkorix::g726
