// SPDX-License-Identifier: GPL-2.0-or-later
// The family of layout documents: one row per document type, and their registration with
// the document controller.
#pragma once

#include <QString>
#include <span>

#include "layout/layout_kind.h"

namespace quillion {

class DocumentController;

inline constexpr char kCDImageType[] = "CD Image";
inline constexpr char kCDCopyType[] = "CD Copy";
inline constexpr char kCDCopyExtension[] = "cdcp";

std::span<const LayoutKind> layoutDocumentKinds();
const LayoutKind* findLayoutDocumentKind(const QString& typeName);

// The extensions of disc image files, which open as the source of a new disc copy layout.
QStringList cdImageExtensions();

// Registers every layout document type, and "CD Image" (opened only, by the disc copy
// document).
void registerLayoutDocumentTypes(DocumentController& controller);

}  // namespace quillion
