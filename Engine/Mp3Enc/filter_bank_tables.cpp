// SPDX-License-Identifier: GPL-2.0-or-later
// The analysis window of ISO/IEC 11172-3 (Annex C), C[0..511], from the table the MPEG audio
// encoders share, scaled once at compile time.
#include "mp3enc/filter_bank.h"
#include "quillion_mpeg/analysis_window.h"

namespace quillion::mp3enc {
namespace {

struct ScaledWindow {
  double values[512];
};

constexpr ScaledWindow scaleWindow() {
  ScaledWindow w{};
  for (int i = 0; i < 512; ++i) w.values[i] = mpeg::analysisWindow(i);
  return w;
}

constexpr ScaledWindow kWindow = scaleWindow();

}  // namespace

const double (&anaWindowTable())[512] { return kWindow.values; }

}  // namespace quillion::mp3enc
