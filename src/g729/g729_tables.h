// Constant tables of the G.729 Annex A decoder (floating point).
#pragma once

#include <cstdint>

namespace velkorix::g729 {

extern const float kLspcb1[128][10];
extern const float kLspcb2[32][10];
extern const float kFg[2][4][10];
extern const float kFgSum[2][10];
extern const float kInter3l[31];
extern const float kGbk1[8][2];
extern const float kGbk2[16][2];
extern const int32_t kImap1[8];
extern const int32_t kImap2[16];
extern const float kB100[3];
extern const float kA100[3];
extern const float kGainPrediction[4];

}  // namespace velkorix::g729
