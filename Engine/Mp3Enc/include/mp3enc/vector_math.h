// SPDX-License-Identifier: GPL-2.0-or-later
// Array operations of the encoder. Most public members forward through a process-wide
// pointer (the member's name with _Ptr) to a variant; only the portable variants (_NoOpt)
// are built, and the pointers start and stay on them, so results never depend on the
// processor. Sources come first, then the destination, then the count; scalar operands come
// before the arrays; a count of zero or less does nothing. Strided (flex) members take a
// stride in elements after each array. A destination may be a source, but arrays must not
// partly overlap (copyCHAR excepted).
#pragma once

#include <cstdint>

namespace quillion::mp3enc {

using FLOAT = float;
using DOUBLE = double;
using INT = std::int32_t;
using SHORT = std::int16_t;
using CHAR = char;
// Interleaved complex values: element i occupies floats 2i and 2i + 1.
struct FCOMPLEX {
  FLOAT re;
  FLOAT im;
};

// Float arithmetic.
void addFLOAT(const FLOAT* a, const FLOAT* b, FLOAT* y, INT n);
void addFLOATflex(const FLOAT* a, INT sa, const FLOAT* b, INT sb, FLOAT* y, INT sy, INT n);
void saddFLOAT(FLOAT s, const FLOAT* a, FLOAT* y, INT n);  // a[i] + s
void subFLOAT(const FLOAT* a, const FLOAT* b, FLOAT* y, INT n);
void subFLOATflex(const FLOAT* a, INT sa, const FLOAT* b, INT sb, FLOAT* y, INT sy, INT n);
void multFLOAT(const FLOAT* a, const FLOAT* b, FLOAT* y, INT n);
void multFLOATflex(const FLOAT* a, INT sa, const FLOAT* b, INT sb, FLOAT* y, INT sy, INT n);
void divFLOAT(const FLOAT* a, const FLOAT* b, FLOAT* y, INT n);  // IEEE division; no dispatch
void divFLOATflex(const FLOAT* a, INT sa, const FLOAT* b, INT sb, FLOAT* y, INT sy, INT n);
void smulFLOAT(FLOAT s, const FLOAT* a, FLOAT* y, INT n);
void smulFLOATflex(FLOAT s, const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void smultFLOATip(FLOAT s, FLOAT* x, INT n);  // in place
void copyFLOAT(const FLOAT* a, FLOAT* y, INT n);
void copyFLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void setFLOAT(FLOAT s, FLOAT* y, INT n);
void setFLOATflex(FLOAT s, FLOAT* y, INT sy, INT n);

// Integer arithmetic, modulo 2^32.
void addINT(const INT* a, const INT* b, INT* y, INT n);
void addINTflex(const INT* a, INT sa, const INT* b, INT sb, INT* y, INT sy, INT n);
void subINT(const INT* a, const INT* b, INT* y, INT n);
void subINTflex(const INT* a, INT sa, const INT* b, INT sb, INT* y, INT sy, INT n);
void multINT(const INT* a, const INT* b, INT* y, INT n);
void multINTflex(const INT* a, INT sa, const INT* b, INT sb, INT* y, INT sy, INT n);
// Quotient truncated toward zero. Where the processor would trap, a zero divisor gives 0 and
// -2^31 / -1 wraps to -2^31, as the other members wrap.
void divINT(const INT* a, const INT* b, INT* y, INT n);
void divINTflex(const INT* a, INT sa, const INT* b, INT sb, INT* y, INT sy, INT n);
void smulINT(INT s, const INT* a, INT* y, INT n);
void smulINTflex(INT s, const INT* a, INT sa, INT* y, INT sy, INT n);
void smultINTip(INT s, INT* x, INT n);  // in place
void copyINT(const INT* a, INT* y, INT n);
void copyINTflex(const INT* a, INT sa, INT* y, INT sy, INT n);
void setINT(INT s, INT* y, INT n);
void setINTflex(INT s, INT* y, INT sy, INT n);
// Bytes; overlapping ranges are copied one byte at a time from the front, so a destination
// above its source repeats the leading bytes.
void copyCHAR(const CHAR* a, CHAR* y, INT n);

// Element-wise extremes, magnitudes, limits and signs.
void minFLOAT(const FLOAT* a, const FLOAT* b, FLOAT* y, INT n);  // a[i] < b[i] ? a[i] : b[i]
void minFLOATflex(const FLOAT* a, INT sa, const FLOAT* b, INT sb, FLOAT* y, INT sy, INT n);
void maxFLOAT(const FLOAT* a, const FLOAT* b, FLOAT* y, INT n);  // a[i] > b[i] ? a[i] : b[i]
void maxFLOATflex(const FLOAT* a, INT sa, const FLOAT* b, INT sb, FLOAT* y, INT sy, INT n);
void minINT(const INT* a, const INT* b, INT* y, INT n);
void minINTflex(const INT* a, INT sa, const INT* b, INT sb, INT* y, INT sy, INT n);
void maxINT(const INT* a, const INT* b, INT* y, INT n);
void maxINTflex(const INT* a, INT sa, const INT* b, INT sb, INT* y, INT sy, INT n);
void absFLOAT(const FLOAT* a, FLOAT* y, INT n);  // the sign bit cleared
void absFLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void absINT(const INT* a, INT* y, INT n);  // -2^31 stays -2^31
void absINTflex(const INT* a, INT sa, INT* y, INT sy, INT n);
// lo below lo, else hi above hi, else the value (lo wins when lo > hi).
void limitFLOAT(FLOAT lo, FLOAT hi, const FLOAT* a, FLOAT* y, INT n);
void limitFLOATflex(FLOAT lo, FLOAT hi, const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void limitINT(INT lo, INT hi, const INT* a, INT* y, INT n);
void limitINTflex(INT lo, INT hi, const INT* a, INT sa, INT* y, INT sy, INT n);
void signFLOAT(const FLOAT* a, FLOAT* y, INT n);  // 1.0 for a >= 0 (and -0.0), else -1.0 (NaN too)
void signFLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void signINT(const INT* a, INT* y, INT n);  // -1 below 0, else 1
void signINTflex(const INT* a, INT sa, INT* y, INT sy, INT n);

// Conversions.
void floorFLOAT(const FLOAT* a, FLOAT* y, INT n);
void floorFLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void ceilFLOAT(const FLOAT* a, FLOAT* y, INT n);
void ceilFLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void truncFLOAT(const FLOAT* a, FLOAT* y, INT n);
void truncFLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void nintFLOAT(const FLOAT* a, FLOAT* y, INT n);  // floor(a + 0.5) with the addition in double
void nintFLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
// Ties away from zero, the addition of 0.5 made in single precision; NaN leaves y[i] as it was.
void roundFLOAT2INT(const FLOAT* a, INT* y, INT n);
void roundFLOAT2SHORT(const FLOAT* a, SHORT* y, INT n);    // the same, saturated to 16 bits
void roundFLOAT2FLOAT16(const FLOAT* a, FLOAT* y, INT n);  // the same, stored as a float
// a[i] x scale + offset in single precision, truncated toward zero into 64 bits, of which
// the low 32 are stored (values from 2^31 land as their unsigned bit patterns). Values
// beyond 64 bits saturate; NaN gives 0. No dispatch.
void quantFLOATtoUINT(FLOAT offset, FLOAT scale, const FLOAT* a, INT* y, INT n);

// Functions, each through the single-precision library function once per element.
void sinFLOAT(const FLOAT* a, FLOAT* y, INT n);
void sinFLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void cosFLOAT(const FLOAT* a, FLOAT* y, INT n);
void cosFLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void expFLOAT(const FLOAT* a, FLOAT* y, INT n);
void expFLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void logFLOAT(const FLOAT* a, FLOAT* y, INT n);  // natural logarithm
void logFLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void log2FLOAT(const FLOAT* a, FLOAT* y, INT n);  // logf x 1.442695f
void log2FLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void log10FLOAT(const FLOAT* a, FLOAT* y, INT n);  // logf x 0.43429449f
void log10FLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void spowFLOAT(FLOAT s, const FLOAT* a, FLOAT* y, INT n);  // powf(a[i], s)
void spowFLOATflex(FLOAT s, const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
// c x ln(d x a[i]), d x a[i] in single precision. With an odd count the first element's
// logarithm and product are taken in double; the others use logf with the product formed
// in double and narrowed.
void alogbFLOAT(FLOAT c, FLOAT d, const FLOAT* a, FLOAT* y, INT n);
void alogbFLOATflex(FLOAT c, FLOAT d, const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void sqrtFLOAT(const FLOAT* a, FLOAT* y, INT n);
void sqrtFLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n);
void norm2FCOMPLEX(const FCOMPLEX* a, FLOAT* y, INT n);  // sqrtf(re^2 + im^2)
void rad2FCOMPLEX(const FCOMPLEX* a, FLOAT* y, INT n);   // re^2 + im^2

// Reductions in single precision; 0 for a count of zero or less.
FLOAT sumFLOAT(const FLOAT* a, INT n);
FLOAT dotFLOAT(const FLOAT* a, const FLOAT* b, INT n);
FLOAT dotFLOATflex(const FLOAT* a, INT sa, const FLOAT* b, INT sb, INT n);  // no dispatch
FLOAT dist2FLOAT(const FLOAT* a, const FLOAT* b, INT n);                    // sum of (a - b)^2
FLOAT dist2FLOATflex(const FLOAT* a, INT sa, const FLOAT* b, INT sb, INT n);
FLOAT norm2FLOAT(const FLOAT* a, INT n);    // sum of a^2
FLOAT findminFLOAT(const FLOAT* a, INT n);  // needs n >= 1
FLOAT findmaxFLOAT(const FLOAT* a, INT n);  // needs n >= 1

INT ceillog2(INT n);  // halvings that bring n - 1 to zero; no dispatch

// Dispatch pointers, statically on their portable variants. divFLOAT_Ptr exists for the
// dispatch table's sake; divFLOAT itself never reads it.
extern decltype(&addFLOAT) const addFLOAT_Ptr;
extern decltype(&addFLOATflex) const addFLOATflex_Ptr;
extern decltype(&saddFLOAT) const saddFLOAT_Ptr;
extern decltype(&subFLOAT) const subFLOAT_Ptr;
extern decltype(&subFLOATflex) const subFLOATflex_Ptr;
extern decltype(&multFLOAT) const multFLOAT_Ptr;
extern decltype(&multFLOATflex) const multFLOATflex_Ptr;
extern decltype(&divFLOAT) const divFLOAT_Ptr;
extern decltype(&divFLOATflex) const divFLOATflex_Ptr;
extern decltype(&smulFLOAT) const smulFLOAT_Ptr;
extern decltype(&smulFLOATflex) const smulFLOATflex_Ptr;
extern decltype(&smultFLOATip) const smultFLOATip_Ptr;
extern decltype(&copyFLOAT) const copyFLOAT_Ptr;
extern decltype(&copyFLOATflex) const copyFLOATflex_Ptr;
extern decltype(&setFLOAT) const setFLOAT_Ptr;
extern decltype(&setFLOATflex) const setFLOATflex_Ptr;
extern decltype(&addINT) const addINT_Ptr;
extern decltype(&addINTflex) const addINTflex_Ptr;
extern decltype(&subINT) const subINT_Ptr;
extern decltype(&subINTflex) const subINTflex_Ptr;
extern decltype(&multINT) const multINT_Ptr;
extern decltype(&multINTflex) const multINTflex_Ptr;
extern decltype(&divINT) const divINT_Ptr;
extern decltype(&divINTflex) const divINTflex_Ptr;
extern decltype(&smulINT) const smulINT_Ptr;
extern decltype(&smulINTflex) const smulINTflex_Ptr;
extern decltype(&smultINTip) const smultINTip_Ptr;
extern decltype(&copyINT) const copyINT_Ptr;
extern decltype(&copyINTflex) const copyINTflex_Ptr;
extern decltype(&setINT) const setINT_Ptr;
extern decltype(&setINTflex) const setINTflex_Ptr;
extern decltype(&minFLOAT) const minFLOAT_Ptr;
extern decltype(&minFLOATflex) const minFLOATflex_Ptr;
extern decltype(&maxFLOAT) const maxFLOAT_Ptr;
extern decltype(&maxFLOATflex) const maxFLOATflex_Ptr;
extern decltype(&minINT) const minINT_Ptr;
extern decltype(&minINTflex) const minINTflex_Ptr;
extern decltype(&maxINT) const maxINT_Ptr;
extern decltype(&maxINTflex) const maxINTflex_Ptr;
extern decltype(&absFLOAT) const absFLOAT_Ptr;
extern decltype(&absFLOATflex) const absFLOATflex_Ptr;
extern decltype(&absINT) const absINT_Ptr;
extern decltype(&absINTflex) const absINTflex_Ptr;
extern decltype(&limitFLOAT) const limitFLOAT_Ptr;
extern decltype(&limitFLOATflex) const limitFLOATflex_Ptr;
extern decltype(&limitINT) const limitINT_Ptr;
extern decltype(&limitINTflex) const limitINTflex_Ptr;
extern decltype(&signFLOAT) const signFLOAT_Ptr;
extern decltype(&signFLOATflex) const signFLOATflex_Ptr;
extern decltype(&signINT) const signINT_Ptr;
extern decltype(&signINTflex) const signINTflex_Ptr;
extern decltype(&floorFLOAT) const floorFLOAT_Ptr;
extern decltype(&floorFLOATflex) const floorFLOATflex_Ptr;
extern decltype(&ceilFLOAT) const ceilFLOAT_Ptr;
extern decltype(&ceilFLOATflex) const ceilFLOATflex_Ptr;
extern decltype(&truncFLOAT) const truncFLOAT_Ptr;
extern decltype(&truncFLOATflex) const truncFLOATflex_Ptr;
extern decltype(&nintFLOAT) const nintFLOAT_Ptr;
extern decltype(&nintFLOATflex) const nintFLOATflex_Ptr;
extern decltype(&roundFLOAT2INT) const roundFLOAT2INT_Ptr;
extern decltype(&roundFLOAT2SHORT) const roundFLOAT2SHORT_Ptr;
extern decltype(&roundFLOAT2FLOAT16) const roundFLOAT2FLOAT16_Ptr;
extern decltype(&sinFLOAT) const sinFLOAT_Ptr;
extern decltype(&sinFLOATflex) const sinFLOATflex_Ptr;
extern decltype(&cosFLOAT) const cosFLOAT_Ptr;
extern decltype(&cosFLOATflex) const cosFLOATflex_Ptr;
extern decltype(&expFLOAT) const expFLOAT_Ptr;
extern decltype(&expFLOATflex) const expFLOATflex_Ptr;
extern decltype(&logFLOAT) const logFLOAT_Ptr;
extern decltype(&logFLOATflex) const logFLOATflex_Ptr;
extern decltype(&log2FLOAT) const log2FLOAT_Ptr;
extern decltype(&log2FLOATflex) const log2FLOATflex_Ptr;
extern decltype(&log10FLOAT) const log10FLOAT_Ptr;
extern decltype(&log10FLOATflex) const log10FLOATflex_Ptr;
extern decltype(&spowFLOAT) const spowFLOAT_Ptr;
extern decltype(&spowFLOATflex) const spowFLOATflex_Ptr;
extern decltype(&alogbFLOAT) const alogbFLOAT_Ptr;
extern decltype(&alogbFLOATflex) const alogbFLOATflex_Ptr;
extern decltype(&sqrtFLOAT) const sqrtFLOAT_Ptr;
extern decltype(&sqrtFLOATflex) const sqrtFLOATflex_Ptr;
extern decltype(&norm2FCOMPLEX) const norm2FCOMPLEX_Ptr;
extern decltype(&rad2FCOMPLEX) const rad2FCOMPLEX_Ptr;
extern decltype(&sumFLOAT) const sumFLOAT_Ptr;
extern decltype(&dotFLOAT) const dotFLOAT_Ptr;
extern decltype(&dist2FLOAT) const dist2FLOAT_Ptr;
extern decltype(&dist2FLOATflex) const dist2FLOATflex_Ptr;
extern decltype(&norm2FLOAT) const norm2FLOAT_Ptr;
extern decltype(&findminFLOAT) const findminFLOAT_Ptr;
extern decltype(&findmaxFLOAT) const findmaxFLOAT_Ptr;

// Asks the processor once per process. With no fast variants built, the pointers stay
// portable; the call exists so that the encoder's set-up keeps one place for the choice.
void InitMathOpt();

}  // namespace quillion::mp3enc
