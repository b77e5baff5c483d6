// Texts that must be seen whole, paths that are too long for their field,
// and the program's icon on every window.
#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <QTest>
#include <gtest/gtest.h>

#include "app/HelpViewer.h"
#include "app/Pictures.h"
#include "app/TAboutBox.h"
#include "connect/Connect.h"
#include "support/GuiApp.h"
#include "gui/TextFits.h"
#include "memory/Progress.h"
#include "project/TF_Properties.h"

namespace varnel {
namespace {

using testing::ClippedTexts;

PropertyValues TypicalValues() {
  PropertyValues values;
  values.Port = "COM1";
  values.Baud = "38400";
  values.HCR0 = "FFh";
  values.HCR1 = "A5h";
  values.HexBin = "/home/ann/firmware/blink.hex";
  values.Lst = "/home/ann/firmware/blink.lst";
  values.Default = false;
  return values;
}

TEST(WindowTexts, EveryLabelIsAsWideAsItsText) {
  testing::GuiApp();
  TAboutBox about;
  about.show();
  EXPECT_EQ(ClippedTexts(about).join("; ").toStdString(), "");
  // The author line breaks into the room above the logos, not over them.
  const auto* author = about.findChild<QLabel*>("AuthorLabel");
  ASSERT_TRUE(author);
  EXPECT_LE(author->geometry().bottom(), about.findChild<QLabel*>("TIlogo")->y());
  EXPECT_GE(author->geometry().top(), about.findChild<QLabel*>("Label1")->geometry().bottom());

  for (const auto mode : {TF_Properties::FillMode::Configure, TF_Properties::FillMode::NewProject}) {
    TF_Properties dialog;
    dialog.SetProjectName(QStringLiteral("demo.prj"));
    dialog.Fill(TypicalValues(), mode);
    dialog.SetComputedClock(11059200);
    dialog.show();
    EXPECT_EQ(ClippedTexts(dialog).join("; ").toStdString(), "");
  }

  Session session;
  QWidget owner;
  TF_Connect connect(session, &owner);
  connect.show();
  EXPECT_EQ(ClippedTexts(connect).join("; ").toStdString(), "");
  TF_Progress progress(&owner);
  progress.show();
  EXPECT_EQ(ClippedTexts(progress).join("; ").toStdString(), "");
}

TEST(WindowTexts, PathsTooLongForTheirFieldAreCutInTheMiddle) {
  testing::GuiApp();
  TF_Properties dialog;
  PropertyValues values = TypicalValues();
  values.HexBin = "/home/ann/projects/msc1210/firmware/releases/2024/blink-with-watchdog.hex";
  values.Lst = "short.lst";
  dialog.Fill(values, TF_Properties::FillMode::Configure);
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  dialog.ComboPort->setFocus();
  auto* hex = dynamic_cast<PathEdit*>(dialog.Edt_HexFile);
  auto* lst = dynamic_cast<PathEdit*>(dialog.Edt_LstFile);
  ASSERT_TRUE(hex && lst);

  const QString path = QString::fromStdString(values.HexBin);
  const QString shown = hex->ShownText();
  EXPECT_EQ(hex->text(), path);  // what is saved is never shortened
  EXPECT_EQ(hex->toolTip(), path);
  ASSERT_NE(shown, path);
  EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
  EXPECT_TRUE(shown.startsWith(QStringLiteral("/ho"))) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith(QStringLiteral(".hex"))) << shown.toStdString();
  EXPECT_LE(hex->fontMetrics().horizontalAdvance(shown), hex->width());
  EXPECT_EQ(lst->ShownText(), "short.lst");
  EXPECT_EQ(lst->toolTip(), "short.lst");

  // Editing shows the whole path; a picked file's path becomes the tip.
  hex->setFocus();
  EXPECT_TRUE(QTest::qWaitFor([&] { return hex->hasFocus(); }, 1000));
  EXPECT_EQ(hex->ShownText(), path);
  lst->setText(QStringLiteral("/srv/lists/blink.lst"));
  EXPECT_EQ(lst->toolTip(), "/srv/lists/blink.lst");
  EXPECT_EQ(dialog.Values().HexBin, values.HexBin);
}

TEST(WindowTexts, EveryWindowCarriesTheProgramIcon) {
  testing::GuiApp();
  const QIcon icon = ProgramIcon();
  ASSERT_FALSE(icon.isNull());
  // Drawn at the sizes a desktop asks for, the largest 64 px.
  const QSize size = icon.availableSizes().value(icon.availableSizes().size() - 1);
  EXPECT_EQ(size, QSize(64, 64));
  // The picture itself, not an empty square: rounded corners, an opaque middle.
  const QImage image = icon.pixmap(size).toImage();
  EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
  EXPECT_EQ(image.pixelColor(32, 32).alpha(), 255);

  QApplication::setWindowIcon(icon);  // as the program entry does
  Session session;
  QWidget owner;
  TAboutBox about;
  TF_Properties properties;
  HelpViewer help(QStringLiteral("Varnel.hlp"));
  TF_Connect connect(session, &owner);
  TF_Progress progress(&owner);
  for (QWidget* window : std::initializer_list<QWidget*>{&about, &properties, &help, &connect,
                                                         &progress}) {
    EXPECT_EQ(window->windowIcon().cacheKey(), icon.cacheKey()) << window->objectName().toStdString();
  }
  QApplication::setWindowIcon(QIcon());
}

}  // namespace
}  // namespace varnel
