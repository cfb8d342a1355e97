// SPDX-License-Identifier: GPL-2.0-or-later
// The burn options sheet as data: which switches are shown, enabled and on, which burn
// button takes Return, and the burn settings the switches stand for. The window copies this
// state onto its widgets; tests drive it without any.
#pragma once

#include <cstdint>

namespace quillion {

struct SwitchState {
  bool enabled = true;
  bool on = false;
  bool shown = true;
};

enum class ButtonKey { kNone, kReturn, kCommandS, kCommandD };

struct ButtonState {
  bool enabled = true;
  ButtonKey key = ButtonKey::kNone;
};

// Disc kinds of a DVD or BD medium (dvdKind of the disc description).
enum DvdKind : std::uint8_t {
  kDvdROM = 1,
  kDvdMinusR = 2,
  kDvdMinusRW = 3,
  kDvdPlusR = 4,
  kDvdPlusRW = 5,
  kDvdPlusRDL = 6,
  kDvdRAM = 7,
  kDvdMinusRDL = 8,
  kBdROM = 9,
  kBdR = 10,
  kBdRE = 11,
};

// What the smart switch decides from.
struct OptionsInputs {
  bool smart = true;               // the recommended switch
  bool driveHasBurnProof = false;  // buffer-underrun protection
  bool cdTextPossible = false;     // the drive writes CD-Text, or the destination is an image
  bool wantsCDText = false;        // the layout has CD-Text to write
  bool isDVD = false;              // a DVD or BD medium is loaded
  std::uint8_t dvdKind = 0;
  bool blankDisc = true;
  bool realDrive = true;
  bool writeContinueDrive = false;  // needs the vendor WRITE CONTINUE command
  bool continueOverburn = false;
  std::uint32_t formatType = 0;
};

struct OptionsState {
  SwitchState underrun, sao, simulate, cdText, verify;
  ButtonState burnDisc{true, ButtonKey::kReturn};
  ButtonState burnSession{true, ButtonKey::kCommandS};
  bool simulateWrite = false;
  bool useSAO = false;
  bool bufferUnderRunOn = false;
  bool useCDText = false;

  // The verify switch for a new burn: off, disabled and hidden for kinds that do not verify;
  // otherwise on exactly when the preference asks for it; never with simulation on.
  void setUpVerify(bool kindVerifies, bool preference);
  // The recommended switch changed, or the sheet opens.
  void toggleSmart(const OptionsInputs& in);
  void toggleSimulate(bool on);
  void toggleBufferUnderrun(bool on);
  // `dvdKind` and `blankDisc` describe the medium (DVD-RW buttons).
  void toggleSAO(bool on, std::uint8_t dvdKind, bool blankDisc);
  void toggleCDText(bool on);

 private:
  void writtenOnceDisc();
  void writeOnceBlank();
};

}  // namespace quillion
