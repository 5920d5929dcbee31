// The kernels of the G.726 24 kbit/s stream decoder (portable and AVX2) and
// the record's state in registers. Internal to the decoder and its tests.
#pragma once

#include <cstdint>

#include "common/g726_core.h"
#include "g726_stream/g726_stream.h"

namespace velkorix::g726s {

using g726::Registers;

inline Registers Load(const G726StreamDecoder &d) {
    Registers r;
    r.yl = d.YL;
    r.yu = d.YU;
    r.dms = d.DMS;
    r.dml = d.DML;
    r.ap = d.AP;
    r.a1 = d.A1;
    r.a2 = d.A2;
    r.pk1 = d.PK1;
    r.pk2 = d.PK2;
    r.td = d.TD;
    for (int k = 0; k < 6; ++k) {
        r.b[k] = d.B[k];
        r.dq[k] = d.DQ[k];
    }
    r.sr1 = d.SR1;
    r.sr2 = d.SR2;
    return r;
}

inline void Store(const Registers &r, G726StreamDecoder &d) {
    d.YL = r.yl;
    d.YU = static_cast<int16_t>(r.yu);
    d.DMS = static_cast<int16_t>(r.dms);
    d.DML = static_cast<int16_t>(r.dml);
    d.AP = static_cast<int16_t>(r.ap);
    d.A1 = static_cast<int16_t>(r.a1);
    d.A2 = static_cast<int16_t>(r.a2);
    d.PK1 = static_cast<int16_t>(r.pk1);
    d.PK2 = static_cast<int16_t>(r.pk2);
    d.TD = static_cast<int8_t>(r.td);
    for (int k = 0; k < 6; ++k) {
        d.B[k] = static_cast<int16_t>(r.b[k]);
        d.DQ[k] = static_cast<int16_t>(r.dq[k]);
    }
    d.SR1 = static_cast<int16_t>(r.sr1);
    d.SR2 = static_cast<int16_t>(r.sr2);
}

// Decodes `groups` whole 3-byte groups (8 codes each) into 8 x groups
// samples, starting from and updating the record's adaptive state.
void DecodeGroupsPortable(G726StreamDecoder &d, const uint8_t *input, int32_t groups, int16_t *output);
#if VELKORIX_X86_KERNELS
void DecodeGroupsAvx2(G726StreamDecoder &d, const uint8_t *input, int32_t groups, int16_t *output);
#endif

}  // namespace velkorix::g726s
