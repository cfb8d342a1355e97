// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/options_state.h"

namespace quillion {

void OptionsState::setUpVerify(bool kindVerifies, bool preference) {
  if (!kindVerifies) {
    verify = {false, false, false};
  } else {
    verify = {true, preference, true};
  }
  if (simulate.on) {
    verify.on = false;
    verify.enabled = false;
  }
}

// A rewritable overwrite medium, or a written write-once disc: one more session only.
void OptionsState::writtenOnceDisc() {
  burnSession = {true, ButtonKey::kReturn};
  burnDisc = {false, ButtonKey::kCommandD};
}

void OptionsState::writeOnceBlank() {
  burnDisc = {true, ButtonKey::kReturn};
  burnSession = {false, ButtonKey::kCommandS};
}

void OptionsState::toggleSmart(const OptionsInputs& in) {
  if (in.smart) {
    underrun.enabled = sao.enabled = cdText.enabled = false;
    if (in.driveHasBurnProof) {
      underrun.on = true;
      bufferUnderRunOn = true;
    }
  } else {
    underrun.enabled = sao.enabled = simulate.enabled = cdText.enabled = true;
  }
  if (!in.driveHasBurnProof) {
    underrun.enabled = underrun.on = false;
    bufferUnderRunOn = false;
  }
  if (in.cdTextPossible) {
    useCDText = in.wantsCDText;
    if (useCDText) {
      cdText.shown = true;
      if (in.smart) {
        cdText.on = true;
        cdText.enabled = false;
      }
    }
  } else {
    cdText = {false, false, false};
    useCDText = false;
  }
  if (in.isDVD) {
    sao.enabled = sao.on = false;
    useSAO = false;
    switch (in.dvdKind) {
      case kDvdPlusRW:
      case kDvdRAM:
      case kBdRE:
        simulate = {false, false, false};
        simulateWrite = false;
        writtenOnceDisc();
        break;
      case kDvdPlusR:
      case kDvdPlusRDL:
        simulate = {false, false, false};
        simulateWrite = false;
        if (in.dvdKind == kDvdPlusRDL) {
          sao = {false, true, sao.shown};
          useSAO = true;
        }
        if (in.blankDisc) {
          writeOnceBlank();
        } else {
          writtenOnceDisc();
        }
        break;
      case kDvdMinusR:
      case kDvdMinusRDL:
        simulate.shown = simulate.enabled = true;
        if (in.dvdKind == kDvdMinusRDL) {
          sao = {false, true, sao.shown};
          useSAO = true;
        }
        if (in.blankDisc) {
          writeOnceBlank();
        } else {
          burnDisc = {true, ButtonKey::kCommandD};
          burnSession = {true, ButtonKey::kReturn};
        }
        break;
      case kDvdMinusRW:
        simulate.shown = simulate.enabled = true;
        writeOnceBlank();
        break;
      default:
        break;
    }
  } else {
    simulate.shown = simulate.enabled = true;
  }
  if (in.realDrive) {
    if (in.writeContinueDrive) {
      sao.enabled = sao.on = false;
      useSAO = false;
    }
    if (in.continueOverburn) {
      sao.enabled = false;
      sao.on = true;
      useSAO = true;
      writeOnceBlank();
    }
  }
  if (in.formatType == 64 && !(in.isDVD && (in.dvdKind == kDvdPlusRW || in.dvdKind == kDvdRAM)))
    writeOnceBlank();
}

void OptionsState::toggleSimulate(bool on) {
  simulate.on = on;
  simulateWrite = on;
  if (on) {
    verify.enabled = false;
    verify.on = false;
  } else {
    // A kind that never verifies keeps its hidden switch disabled.
    verify.enabled = verify.shown;
  }
}

void OptionsState::toggleBufferUnderrun(bool on) {
  underrun.on = on;
  bufferUnderRunOn = on;
}

void OptionsState::toggleSAO(bool on, std::uint8_t dvdKind, bool blankDisc) {
  sao.on = on;
  useSAO = on;
  if (!on) {
    cdText.on = false;
    useCDText = false;
  }
  if (dvdKind == kDvdMinusRW && (!on || blankDisc)) writeOnceBlank();
}

void OptionsState::toggleCDText(bool on) {
  cdText.on = on;
  useCDText = on;
  if (on) {
    sao.on = true;
    useSAO = true;
  }
}

}  // namespace quillion
