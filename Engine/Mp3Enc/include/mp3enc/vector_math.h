// SPDX-License-Identifier: GPL-2.0-or-later
// Array operations of the encoder. Each public member forwards through a process-wide
// pointer (the member's name with _Ptr) to a variant; only the portable variants (_NoOpt)
// are built, and the pointers start and stay on them, so results never depend on the
// processor. Sources come first, then the destination, then the count; a count of zero or
// less does nothing. Strided (flex) members take a stride in elements after each array.
#pragma once

#include <cstdint>

namespace quillion::mp3enc {

using FLOAT = float;
using INT = std::int32_t;

// Element-wise members used by the encoder's stages.
void addFLOAT(const FLOAT* a, const FLOAT* b, FLOAT* y, INT n);
void addFLOATflex(const FLOAT* a, INT sa, const FLOAT* b, INT sb, FLOAT* y, INT sy, INT n);
void copyFLOAT(const FLOAT* a, FLOAT* y, INT n);
void copyFLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void smulFLOAT(FLOAT s, const FLOAT* a, FLOAT* y, INT n);
void smulFLOATflex(FLOAT s, const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void maxFLOAT(const FLOAT* a, const FLOAT* b, FLOAT* y, INT n);
void setFLOAT(FLOAT s, FLOAT* y, INT n);
void setFLOATflex(FLOAT s, FLOAT* y, INT sy, INT n);
void copyINT(const INT* a, INT* y, INT n);
void copyINTflex(const INT* a, INT sa, INT* y, INT sy, INT n);
void absINT(const INT* a, INT* y, INT n);  // -2^31 stays -2^31
void setINT(INT s, INT* y, INT n);
void limitINT(INT lo, INT hi, const INT* a, INT* y, INT n);
void signFLOAT(const FLOAT* a, FLOAT* y, INT n);  // 1.0 for a >= 0 (and -0.0), else -1.0
void nintFLOAT(const FLOAT* a, FLOAT* y, INT n);  // floor(a + 0.5) with the addition in double
// Ties away from zero, the addition of 0.5 made in single precision; NaN leaves y[i] as it was.
void roundFLOAT2INT(const FLOAT* a, INT* y, INT n);
void roundFLOAT2SHORT(const FLOAT* a, std::int16_t* y, INT n);  // the same, saturated to 16 bits

// Reductions; 0 for a count of zero or less.
FLOAT sumFLOAT(const FLOAT* a, INT n);
FLOAT dotFLOAT(const FLOAT* a, const FLOAT* b, INT n);
FLOAT norm2FLOAT(const FLOAT* a, INT n);
FLOAT findmaxFLOAT(const FLOAT* a, INT n);  // needs n >= 1

// Plain members without dispatch.
INT ceillog2(INT n);  // halvings that bring n - 1 to zero

// Dispatch pointers, statically on their portable variants.
extern void (*const addFLOAT_Ptr)(const FLOAT*, const FLOAT*, FLOAT*, INT);
extern void (*const addFLOATflex_Ptr)(const FLOAT*, INT, const FLOAT*, INT, FLOAT*, INT, INT);
extern void (*const copyFLOAT_Ptr)(const FLOAT*, FLOAT*, INT);
extern void (*const copyFLOATflex_Ptr)(const FLOAT*, INT, FLOAT*, INT, INT);
extern void (*const smulFLOAT_Ptr)(FLOAT, const FLOAT*, FLOAT*, INT);
extern void (*const smulFLOATflex_Ptr)(FLOAT, const FLOAT*, INT, FLOAT*, INT, INT);
extern void (*const maxFLOAT_Ptr)(const FLOAT*, const FLOAT*, FLOAT*, INT);
extern void (*const setFLOAT_Ptr)(FLOAT, FLOAT*, INT);
extern void (*const setFLOATflex_Ptr)(FLOAT, FLOAT*, INT, INT);
extern void (*const copyINT_Ptr)(const INT*, INT*, INT);
extern void (*const copyINTflex_Ptr)(const INT*, INT, INT*, INT, INT);
extern void (*const absINT_Ptr)(const INT*, INT*, INT);
extern void (*const setINT_Ptr)(INT, INT*, INT);
extern void (*const limitINT_Ptr)(INT, INT, const INT*, INT*, INT);
extern void (*const signFLOAT_Ptr)(const FLOAT*, FLOAT*, INT);
extern void (*const nintFLOAT_Ptr)(const FLOAT*, FLOAT*, INT);
extern void (*const roundFLOAT2INT_Ptr)(const FLOAT*, INT*, INT);
extern void (*const roundFLOAT2SHORT_Ptr)(const FLOAT*, std::int16_t*, INT);
extern FLOAT (*const sumFLOAT_Ptr)(const FLOAT*, INT);
extern FLOAT (*const dotFLOAT_Ptr)(const FLOAT*, const FLOAT*, INT);
extern FLOAT (*const norm2FLOAT_Ptr)(const FLOAT*, INT);
extern FLOAT (*const findmaxFLOAT_Ptr)(const FLOAT*, INT);

// Asks the processor once per process. With no fast variants built, the pointers stay
// portable; the call exists so that the encoder's set-up keeps one place for the choice.
void InitMathOpt();

}  // namespace quillion::mp3enc
