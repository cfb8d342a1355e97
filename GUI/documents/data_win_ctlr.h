// SPDX-License-Identifier: GPL-2.0-or-later
// The window controller of the data document.
#pragma once

#include "layout/base_layout_win_ctlr.h"

namespace quillion {

class DataWinCtlr final : public BaseLayoutWinCtlr {
  Q_OBJECT

 public:
  // Data-disc format of a DVD-Video layout: UDF in DVD-Video order.
  static constexpr int kDVDVideoFormat = 64;

  using BaseLayoutWinCtlr::BaseLayoutWinCtlr;

  // DVD-Video order is its own format and cannot be spread over several discs.
  void setAsVideoTSDoc() override;
  bool isVideoTS() const { return videoTS_; }

 private:
  bool videoTS_ = false;
};

}  // namespace quillion
