// SPDX-License-Identifier: GPL-2.0-or-later
#include "documents/data_win_ctlr.h"

namespace quillion {

void DataWinCtlr::setAsVideoTSDoc() {
  videoTS_ = true;
  layoutState().fileFormat = kDVDVideoFormat;
  layoutState().discSpan = false;
}

}  // namespace quillion
