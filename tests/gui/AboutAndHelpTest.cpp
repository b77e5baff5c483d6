#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <QTextBrowser>
#include <gtest/gtest.h>

#include "app/HelpViewer.h"
#include "app/JpegPicture.h"
#include "app/TAboutBox.h"
#include "support/GuiApp.h"

namespace varnel {
namespace {

QApplication& App() { return testing::GuiApp(); }

QByteArray ProgramPicture() {
  QFile file(QStringLiteral(":/varnel/varnel.jpg"));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  return file.readAll();
}

TEST(JpegPicture, DecodesTheProgramPictureAndRefusesDamagedData) {
  App();
  const QByteArray bytes = ProgramPicture();
  const QImage image = DecodeJpeg(bytes);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(65, 57));
  // Cross-check the decoder against Qt's own reading of the same bytes.
  QImage reference;
  if (reference.loadFromData(bytes, "JPG")) {
    const QColor a = image.pixelColor(32, 28), b = reference.pixelColor(32, 28);
    EXPECT_NEAR(a.red(), b.red(), 6);
    EXPECT_NEAR(a.blue(), b.blue(), 6);
  }
  // Damaged pictures give an empty image, never a crash or an exit.
  EXPECT_TRUE(DecodeJpeg(QByteArray()).isNull());
  EXPECT_TRUE(DecodeJpeg(QByteArray("not a picture")).isNull());
  EXPECT_TRUE(DecodeJpeg(bytes.left(20)).isNull());
  EXPECT_TRUE(DecodeJpeg(bytes.left(bytes.size() / 2)).isNull() ||
              DecodeJpeg(bytes.left(bytes.size() / 2)).size() == QSize(65, 57));
}

TEST(AboutBox, ShowsItsTextsAndOpensLinksOnDoubleClickOnly) {
  App();
  std::vector<QUrl> opened;
  LinkLabel::Opener() = [&](const QUrl& url) { opened.push_back(url); };
  TAboutBox box;
  EXPECT_EQ(box.windowTitle(), "About Varnel");
  EXPECT_EQ(box.size(), QSize(298, 227));
  auto* product = box.findChild<QLabel*>("ProductName");
  ASSERT_TRUE(product);
  EXPECT_EQ(product->text(), "Varnel");
  EXPECT_EQ(product->toolTip(), "latest version of Varnel");
  EXPECT_EQ(box.findChild<QLabel*>("Version")->text(), "Version: 1.1");
  auto* folder = box.findChild<QLabel*>("Label1");
  EXPECT_EQ(folder->text(), "MSC1210 product folder here");
  EXPECT_TRUE(folder->toolTip().startsWith("MSC1210 at "));
  EXPECT_EQ(box.findChild<QLabel*>("TIlogo")->toolTip(), "TI Home page");
  EXPECT_FALSE(box.findChild<QLabel*>("ProgramIcon")->pixmap().isNull());

  QTest::mouseClick(product, Qt::LeftButton);
  EXPECT_TRUE(opened.empty());
  QTest::mouseDClick(product, Qt::LeftButton);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl(TAboutBox::kHomePage));
  QTest::mouseDClick(box.findChild<QLabel*>("AuthorLabel"), Qt::LeftButton);
  EXPECT_EQ(opened.back().scheme(), "mailto");
  LinkLabel::Opener() = nullptr;
}

TEST(HelpViewer, ShowsTheGuideOrSaysWhatIsMissing) {
  App();
  HelpViewer missing(QStringLiteral("NoSuch.hlp"));
  EXPECT_FALSE(missing.Found());
  EXPECT_TRUE(missing.findChild<QTextBrowser*>("HelpText")
                  ->toPlainText()
                  .contains("Cannot find the help file NoSuch.hlp"));
}

}  // namespace
}  // namespace varnel
