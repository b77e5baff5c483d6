// Drawing of the toolbar and About box pictures.
#include "app/Pictures.h"

#include <QPainter>
#include <algorithm>

#include "app/JpegPicture.h"

namespace varnel {
namespace {

// The 16-colour palette the pictures keep to.
const QColor kBlack(0, 0, 0), kNavy(0, 0, 128), kGreen(0, 128, 0), kTeal(0, 128, 128),
    kMaroon(128, 0, 0), kPurple(128, 0, 128), kOlive(128, 128, 0), kGray(128, 128, 128),
    kSilver(192, 192, 192), kRed(255, 0, 0), kLime(0, 255, 0), kYellow(255, 255, 0),
    kBlue(0, 0, 255), kWhite(255, 255, 255);

void Page(QPainter& p, int s, const QColor& fill) {
  p.setPen(kBlack);
  p.setBrush(fill);
  p.drawRect(s / 5, 1, s * 3 / 5, s - 3);
}

// A memory chip with a letter on it; the colour tells the memory.
void Chip(QPainter& p, int s, const QColor& body, const QString& letter) {
  p.setPen(kGray);
  for (int y = 3; y < s - 3; y += 3) {
    p.drawLine(0, y, 2, y);
    p.drawLine(s - 3, y, s - 1, y);
  }
  p.setPen(kBlack);
  p.setBrush(body);
  p.drawRect(3, 1, s - 7, s - 3);
  p.setPen(kWhite);
  QFont font = p.font();
  font.setPixelSize(s - 7);
  font.setBold(true);
  p.setFont(font);
  p.drawText(QRect(3, 1, s - 6, s - 2), Qt::AlignCenter, letter);
}

void Arrow(QPainter& p, int s, const QColor& colour) {
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  const QPoint head[] = {{s / 2, s - 1}, {s / 2 - 4, s - 6}, {s / 2 + 4, s - 6}};
  p.drawPolygon(head, 3);
  p.drawRect(s / 2 - 1, s / 2, 3, s / 2 - 5);
}

}  // namespace

QPixmap ToolPicture(const QString& button, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  const int s = size;
  if (button == QLatin1String("SpeedNew")) {
    Page(p, s, kWhite);
    p.setPen(kYellow);
    p.drawLine(s - 5, 1, s - 1, 5);
    p.drawLine(s - 1, 1, s - 5, 5);
  } else if (button == QLatin1String("SpeedOpen")) {
    p.setPen(kBlack);
    p.setBrush(kOlive);
    p.drawRect(1, 4, s - 4, s - 7);
    p.setBrush(kYellow);
    const QPoint lid[] = {{3, 7}, {s - 1, 7}, {s - 4, s - 3}, {1, s - 3}};
    p.drawPolygon(lid, 4);
  } else if (button == QLatin1String("SpeedSave")) {
    p.setPen(kBlack);
    p.setBrush(kNavy);
    p.drawRect(1, 1, s - 3, s - 3);
    p.setBrush(kWhite);
    p.drawRect(4, 1, s - 9, s / 2 - 2);
    p.setBrush(kSilver);
    p.drawRect(4, s / 2 + 2, s - 9, s / 2 - 4);
  } else if (button == QLatin1String("SpeedConnect")) {
    p.setPen(QPen(kTeal, 2));
    p.drawLine(1, s / 2, s - 2, s / 2);
    p.setPen(kBlack);
    p.setBrush(kLime);
    p.drawEllipse(QPoint(4, s / 2), 3, 3);
    p.drawEllipse(QPoint(s - 5, s / 2), 3, 3);
  } else if (button == QLatin1String("SpeedProg")) {
    Chip(p, s, kMaroon, QString());
    Arrow(p, s, kYellow);
  } else if (button == QLatin1String("Speed")) {
    p.setPen(kBlack);
    p.setBrush(kGreen);
    const QPoint play[] = {{4, 2}, {s - 3, s / 2}, {4, s - 3}};
    p.drawPolygon(play, 3);
  } else if (button == QLatin1String("SpeedAll")) {
    Chip(p, s, kPurple, QStringLiteral("A"));
  } else if (button == QLatin1String("SpeedCode")) {
    Chip(p, s, kNavy, QStringLiteral("C"));
  } else if (button == QLatin1String("SpeedExt")) {
    Chip(p, s, kGreen, QStringLiteral("X"));
  } else if (button == QLatin1String("SpeedIRAM")) {
    Chip(p, s, kTeal, QStringLiteral("I"));
  } else if (button == QLatin1String("SpeedSFR")) {
    Chip(p, s, kOlive, QStringLiteral("S"));
  } else if (button == QLatin1String("SpeedCFG")) {
    Chip(p, s, kRed, QStringLiteral("H"));
  } else if (button == QLatin1String("SpeedTool")) {
    p.setPen(kBlack);
    p.setBrush(kSilver);
    p.drawEllipse(QPoint(s / 2, s / 2), s / 2 - 2, s / 2 - 2);
    p.setBrush(kBlue);
    p.drawEllipse(QPoint(s / 2, s / 2), s / 5, s / 5);
  }
  return pixmap;
}

QPixmap ChipPicture() {
  QPixmap pixmap(177, 49);
  pixmap.fill(kWhite);
  QPainter p(&pixmap);
  p.setPen(kGray);
  for (int x = 10; x < 48; x += 6) {
    p.drawLine(x, 2, x, 6);
    p.drawLine(x, 42, x, 46);
  }
  p.setPen(kBlack);
  p.setBrush(kBlack);
  p.drawRect(6, 7, 42, 34);
  p.setPen(kWhite);
  QFont font = p.font();
  font.setPixelSize(11);
  font.setBold(true);
  p.setFont(font);
  p.drawText(QRect(6, 7, 42, 34), Qt::AlignCenter, QStringLiteral("8051"));
  p.setPen(kMaroon);
  font.setPixelSize(20);
  p.setFont(font);
  p.drawText(QRect(56, 0, 120, 49), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("MSC1210"));
  return pixmap;
}

QPixmap ToolMakerPicture() {
  QPixmap pixmap(81, 49);
  pixmap.fill(kWhite);
  QPainter p(&pixmap);
  p.setPen(kNavy);
  p.setBrush(kNavy);
  p.drawRect(0, 38, 81, 4);
  QFont font = p.font();
  font.setPixelSize(18);
  font.setBold(true);
  p.setFont(font);
  p.drawText(QRect(0, 0, 81, 38), Qt::AlignCenter, QStringLiteral("Varnel"));
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);  // drawn on the 64-unit grid of the scalable icon
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x3a, 0x68));
    p.drawRoundedRect(QRectF(0, 0, 64, 64), 8, 8);
    p.setPen(QPen(QColor(0xd9, 0xe4, 0xf5), 3));
    for (const int y : {20, 32, 44}) {
      p.drawLine(4, y, 14, y);
      p.drawLine(50, y, 60, y);
    }
    p.setPen(QPen(QColor(0xd9, 0xe4, 0xf5), 1));
    p.setBrush(QColor(0x2d, 0x2d, 0x2d));
    p.drawRoundedRect(QRectF(14, 10, 36, 44), 3, 3);
    p.setPen(QColor(0xf2, 0xb2, 0x33));
    QFont font = p.font();
    font.setPixelSize(30);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRectF(14, 10, 36, 44), Qt::AlignCenter, QStringLiteral("V"));
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace varnel
