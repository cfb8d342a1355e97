// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/progress_views.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "framework/messages.h"
#include "framework/notification_center.h"
#include "shell/notification_names.h"
#include "shell/preference_keys.h"

namespace quillion {

namespace {

constexpr int kSegments = 12;

// One segment of a ring 26 degrees wide, between radii 3 and 4, about the origin.
QPainterPath ringSegment() {
  QPainterPath path;
  path.arcMoveTo(QRectF(-4, -4, 8, 8), 257);
  path.arcTo(QRectF(-4, -4, 8, 8), 257, 26);
  path.arcTo(QRectF(-3, -3, 6, 6), 283, -26);
  path.closeSubpath();
  return path;
}

}  // namespace

int filledRingSegments(int percentage) {
  return std::clamp(percentage / 8, 0, kSegments);
}

BurnCustomProgress::BurnCustomProgress(Defaults& defaults, QWidget* parent)
    : QWidget(parent), defaults_(defaults) {
  QFont bold = font();
  bold.setBold(true);
  bold.setPointSize(12);
  setFont(bold);
  setMinimumSize(80, 80);
  BPcolorDidChange();
  NotificationCenter::instance().observe(this, QString::fromLatin1(VUK_ColorDidChangeNotification),
                                         NotificationCenter::AnySender,
                                         [this](const Notification&) { BPcolorDidChange(); });
}

void BurnCustomProgress::setPercentage(int percentage) {
  percentage_ = percentage;
  update();
}

void BurnCustomProgress::setBorderColor(const QColor& border, const QColor& fill,
                                        const QColor& text) {
  border_ = border;
  fill_ = fill;
  text_ = text;
  update();  // once, for all three
}

void BurnCustomProgress::BPcolorDidChange() {
  setBorderColor(preferenceColor(defaults_, VUKBorderColor),
                 preferenceColor(defaults_, VUKFillColor),
                 preferenceColor(defaults_, VUKTextColor));
}

void BurnCustomProgress::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF area = rect();
  const double scale = std::min(area.width(), area.height()) * 0.125;
  const QPainterPath segment = ringSegment();
  QColor stroke = border_;
  stroke.setAlphaF(0.6f);
  QColor fill = fill_;
  fill.setAlphaF(0.2f);
  int toFill = filledRingSegments(percentage_);
  for (int i = 1; i <= kSegments; ++i) {
    QTransform t;
    t.translate(area.center().x(), area.center().y());
    t.rotate(-30.0 * i);
    t.scale(scale, scale);
    const QPainterPath placed = t.map(segment);
    if (toFill > 0) {
      p.fillPath(placed, fill);
      --toFill;
    }
    p.setPen(QPen(stroke, 1.0));
    p.drawPath(placed);
  }
  p.setPen(text_);
  p.drawText(area, Qt::AlignCenter, QStringLiteral("%1 %").arg(percentage_));
}

void BurnCustomProgressCell::cancelAction() {
  cancelled_ = true;
  status_ = Msg::gui(QStringLiteral("Cancelled"));
  indeterminate_ = true;
  percentage_ = 0;
}

}  // namespace quillion
