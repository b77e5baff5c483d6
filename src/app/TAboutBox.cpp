// About box layout and links.
#include "app/TAboutBox.h"

#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "app/JpegPicture.h"
#include "app/Pictures.h"
#include "core/Version.h"

namespace varnel {

LinkLabel::LinkLabel(const QUrl& url, QWidget* parent) : QLabel(parent), url_(url) {
  setCursor(Qt::PointingHandCursor);
}

std::function<void(const QUrl&)>& LinkLabel::Opener() {
  static std::function<void(const QUrl&)> opener = [](const QUrl& url) {
    QDesktopServices::openUrl(url);
  };
  return opener;
}

void LinkLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  if (Opener()) Opener()(url_);
  QLabel::mouseDoubleClickEvent(event);
}

namespace {

LinkLabel* Link(QWidget* parent, const char* name, const char* url, QRect geometry) {
  auto* label = new LinkLabel(QUrl(QString::fromLatin1(url)), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  return label;
}

void Colour(QLabel* label, const char* colour, bool bold, bool underline) {
  QFont font = label->font();
  font.setBold(bold);
  font.setUnderline(underline);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, QColor(QString::fromLatin1(colour)));
  label->setPalette(palette);
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("About Varnel"));
  setFixedSize(298, 227);
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Sunken);
  panel->setGeometry(8, 8, 282, 178);

  auto* icon = Link(panel, "ProgramIcon", kChipProductPage, {8, 8, 65, 57});
  icon->setPixmap(QPixmap::fromImage(LoadJpeg(QStringLiteral(":/varnel/varnel.jpg"))));
  icon->setScaledContents(true);

  auto* product = Link(panel, "ProductName", kHomePage, {88, 12, 180, 18});
  product->setText(QStringLiteral("Varnel"));
  product->setToolTip(QStringLiteral("latest version of Varnel"));
  Colour(product, "navy", true, false);

  auto* version = new QLabel(QStringLiteral("Version: ") + QLatin1String(kProgramVersion), panel);
  version->setObjectName(QStringLiteral("Version"));
  version->setGeometry(88, 32, 180, 16);
  Colour(version, "navy", false, false);

  auto* folder = Link(panel, "Label1", kChipProductPage, {88, 50, 190, 16});
  folder->setText(QStringLiteral("MSC1210 product folder here"));
  folder->setToolTip(QStringLiteral("MSC1210 at ") + QString::fromLatin1(kChipMakerPage));
  Colour(folder, "blue", false, true);

  // The author line is wider than the panel at common desktop fonts: it
  // breaks between words into the room above the logos, never cut.
  auto* author = Link(panel, "AuthorLabel", kAuthorMail, {8, 70, 266, 16});
  author->setText(QStringLiteral("Written by the Varnel developers, varnel@example.org"));
  author->setAlignment(Qt::AlignCenter);
  author->setWordWrap(true);
  author->setFixedHeight(std::min(author->heightForWidth(author->width()), 118 - author->y()));

  auto* chip = Link(panel, "TIlogo", kChipMakerPage, {8, 120, 177, 49});
  chip->setPixmap(ChipPicture());
  chip->setToolTip(QStringLiteral("TI Home page"));

  auto* tool = Link(panel, "ToolLogo", kToolMakerPage, {193, 120, 81, 49});
  tool->setPixmap(ToolMakerPicture());
  tool->setToolTip(QString::fromLatin1(kToolMakerPage));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("OKButton"));
  ok->setGeometry(111, 194, 75, 25);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

}  // namespace varnel
