#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "support/GuiApp.h"
#include "project/TF_Properties.h"

namespace varnel {
namespace {

void Click(QListWidget* list, int bit) {
  QListWidgetItem* item = list->item(bit);
  item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

TEST(Properties, RegisterListsFollowTheLabelAndRewriteItOnEveryClick) {
  testing::GuiApp();
  TF_Properties dialog;
  PropertyValues values;
  values.HCR0 = "FFh";
  values.HCR1 = "00h";
  dialog.Fill(values, TF_Properties::FillMode::Configure);
  dialog.show();
  for (int bit = 0; bit < 8; ++bit) {
    EXPECT_EQ(dialog.CheckHCR0->item(bit)->checkState(), Qt::Checked);
    EXPECT_EQ(dialog.CheckHCR1->item(bit)->checkState(), Qt::Unchecked);
  }
  EXPECT_EQ(dialog.CheckHCR0->item(7)->text(), "7-EPMA");
  EXPECT_EQ(dialog.CheckHCR1->item(4)->text(), "4-ABLSEL0");
  Click(dialog.CheckHCR0, 7);
  EXPECT_EQ(dialog.Lbl_HCR0->text(), "7Fh");
  Click(dialog.CheckHCR1, 4);
  Click(dialog.CheckHCR1, 6);
  EXPECT_EQ(dialog.Lbl_HCR1->text(), "50h");
  EXPECT_EQ(dialog.Values().HCR1, "50h");
}

TEST(Properties, OddRegisterTextStaysUntilTheListIsClicked) {
  testing::GuiApp();
  TF_Properties dialog;
  PropertyValues values;
  values.HCR0 = "a5h";  // not register form: decoded by the loader arithmetic
  dialog.Fill(values, TF_Properties::FillMode::Configure);
  dialog.show();
  EXPECT_EQ(dialog.Lbl_HCR0->text(), "a5h");
  EXPECT_EQ(dialog.Values().HCR0, "a5h");  // saved back unchanged
  Click(dialog.CheckHCR0, 0);
  EXPECT_EQ(dialog.Lbl_HCR0->text().right(1), "h");
  EXPECT_NE(dialog.Lbl_HCR0->text(), "a5h");
}

TEST(Properties, DefaultSelectionAndManualClockEnableRules) {
  testing::GuiApp();
  TF_Properties dialog;
  PropertyValues values;
  values.Default = true;
  values.CodeMax = "1FFF";
  dialog.Fill(values, TF_Properties::FillMode::Configure);
  dialog.show();
  for (QWidget* w : std::initializer_list<QWidget*>{
           dialog.CheckCode, dialog.CheckSFR, dialog.CheckIRAM, dialog.CheckExtRAM,
           dialog.Edt_CodeMin, dialog.Edt_CodeMax, dialog.Edt_IRAMMax, dialog.Edt_ExtMax}) {
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  }
  EXPECT_TRUE(dialog.Edt_ProgMin->isEnabled());
  EXPECT_EQ(dialog.Values().CodeMax, "1FFF");  // shown and saved while disabled
  QTest::mouseClick(dialog.CheckDefault, Qt::LeftButton, {}, QPoint(5, dialog.CheckDefault->height() / 2));
  EXPECT_FALSE(dialog.CheckDefault->isChecked());
  EXPECT_TRUE(dialog.Edt_CodeMax->isEnabled());

  EXPECT_FALSE(dialog.Edt_RealClk->isEnabled());
  EXPECT_TRUE(dialog.Edt_AutoClk->isEnabled());
  dialog.CheckManual->setChecked(true);
  dialog.CheckManualClick();
  EXPECT_TRUE(dialog.Edt_RealClk->isEnabled());
  EXPECT_FALSE(dialog.Edt_AutoClk->isEnabled());
}

TEST(Properties, EditLimitsPortSelectionAndComputedClock) {
  testing::GuiApp();
  TF_Properties dialog;
  dialog.ComboPort->addItems({"COM2", "None"});
  PropertyValues values;
  values.Port = "COM1";  // not plugged in now: shown as typed text, saved as stored
  dialog.Fill(values, TF_Properties::FillMode::Configure);
  EXPECT_EQ(dialog.ComboPort->currentIndex(), -1);
  EXPECT_EQ(dialog.ComboPort->currentText(), "COM1");
  EXPECT_EQ(dialog.ComboPort->toolTip(), "COM1");
  EXPECT_EQ(dialog.Values().Port, "COM1");
  values.Port = "COM2";
  values.Baud = "19200";
  dialog.Fill(values, TF_Properties::FillMode::Configure);
  EXPECT_EQ(dialog.Values().Port, "COM2");
  EXPECT_EQ(dialog.Values().Baud, "19200");

  dialog.Edt_CodeMin->clear();
  QTest::keyClicks(dialog.Edt_CodeMin, "7ffff");
  EXPECT_EQ(dialog.Edt_CodeMin->text(), "7FFF");
  dialog.Edt_SFRMin->clear();
  QTest::keyClicks(dialog.Edt_SFRMin, "a0b");
  EXPECT_EQ(dialog.Edt_SFRMin->text(), "A0");
  dialog.Edt_IRAMMin->clear();
  QTest::keyClicks(dialog.Edt_IRAMMin, "abc12");
  EXPECT_EQ(dialog.Edt_IRAMMin->text(), "abc12");  // no case rule, no limit

  QLocale::setDefault(QLocale::c());
  dialog.SetComputedClock(11059200);
  EXPECT_EQ(dialog.Edt_AutoClk->text(), "11.0592");
  dialog.SetComputedClock(0);
  EXPECT_EQ(dialog.Edt_AutoClk->text(), "0");
  QLocale::setDefault(QLocale(QLocale::German));
  dialog.SetComputedClock(11059200);
  EXPECT_EQ(dialog.Edt_AutoClk->text(), "11,0592");
  QLocale::setDefault(QLocale::c());
}

TEST(Properties, OnlyTheButtonsCloseTheDialog) {
  testing::GuiApp();
  TF_Properties dialog;
  dialog.show();
  QTest::keyClick(&dialog, Qt::Key_Escape);
  QTest::keyClick(&dialog, Qt::Key_Return);
  EXPECT_TRUE(dialog.isVisible());
  auto* ok = dialog.findChild<QPushButton*>("Btn_Ok");
  auto* cancel = dialog.findChild<QPushButton*>("Btn_Cancel");
  EXPECT_EQ(ok->text(), "&Ok");
  EXPECT_EQ(cancel->text(), "&Cancel");
  EXPECT_FALSE(ok->isDefault() || ok->autoDefault() || cancel->isDefault());
  ok->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(Properties, FileTypeChangeSwapsOnlyTheExtension) {
  EXPECT_EQ(SwapExtensionForFilter("fw.hex", "Binary (*.bin)"), "fw.bin");
  EXPECT_EQ(SwapExtensionForFilter("/a.b/fw.v2.hex", "Project (*.prj)"), "/a.b/fw.v2.prj");
  EXPECT_EQ(SwapExtensionForFilter("fw.hex", "All (*.*)"), "fw.hex");
  EXPECT_EQ(SwapExtensionForFilter("firmware", "Binary (*.bin)"), "firmware");
  EXPECT_EQ(SwapExtensionForFilter("/a.b/firmware", "Binary (*.bin)"), "/a.b/firmware");
  EXPECT_EQ(SwapExtensionForFilter(".profile", "Binary (*.bin)"), ".profile");
  EXPECT_EQ(SwapExtensionForFilter("", "Binary (*.bin)"), "");
}

TEST(Properties, PickerStartsBesideTheFieldOrInTheWorkingFolder) {
  testing::GuiApp();
  TF_Properties dialog;
  dialog.WorkDir = "/work/dir/";
  QString startedIn;
  QStringList offered;
  TF_Properties::Picker() = [&](QWidget*, const QString& dir, const QStringList& filters) {
    startedIn = dir;
    offered = filters;
    return QString("/tmp/x/fw.bin");
  };
  dialog.SpeedButton1Click();
  EXPECT_EQ(startedIn, "/work/dir/");
  EXPECT_EQ(offered.size(), 3);
  EXPECT_EQ(dialog.Edt_HexFile->text(), "/tmp/x/fw.bin");
  EXPECT_EQ(dialog.Edt_HexFile->cursorPosition(), dialog.Edt_HexFile->text().size());
  dialog.SpeedButton1Click();
  EXPECT_EQ(startedIn, "/tmp/x");
  TF_Properties::Picker() = [&](QWidget*, const QString&, const QStringList&) { return QString(); };
  dialog.SpeedButton2Click();  // cancelled: nothing changes
  EXPECT_EQ(dialog.Edt_LstFile->text(), "");
  TF_Properties::Picker() = nullptr;
}

TEST(Properties, ResetSequenceOfferedBesideTheControlAndCheckedOnOk) {
  testing::GuiApp();
  TF_Properties dialog;
  auto* combo = dialog.findChild<QComboBox*>("Cmb_ResetSeq");
  ASSERT_NE(combo, nullptr);
  EXPECT_TRUE(combo->isEditable());
  ASSERT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->itemText(0), "pulse");
  EXPECT_EQ(combo->itemText(1), "pulse-inverted");

  PropertyValues values;
  values.ControlDTR = false;
  values.ResetSequence = "dtr=0,rts=1,100,rts=0";
  dialog.Fill(values, TF_Properties::FillMode::Configure);
  dialog.show();
  EXPECT_EQ(combo->currentText(), "dtr=0,rts=1,100,rts=0");
  EXPECT_FALSE(combo->isEnabled());  // used only with RTS/DTR control
  dialog.CheckDTR->click();
  EXPECT_TRUE(combo->isEnabled());
  combo->setCurrentIndex(1);
  EXPECT_EQ(dialog.Values().ResetSequence, "pulse-inverted");

  // A step that cannot run keeps the dialog open, named in the message.
  QStringList refusals;
  TF_Properties::Refuse() = [&](QWidget*, const QString& why) { refusals << why; };
  combo->setEditText("dtr=1,rts=2,40");
  dialog.findChild<QPushButton*>("Btn_Ok")->click();
  ASSERT_EQ(refusals.size(), 1);
  EXPECT_TRUE(refusals[0].startsWith("Reset sequence step 2 \"rts=2\"")) << refusals[0].toStdString();
  EXPECT_TRUE(dialog.isVisible());
  combo->setEditText(" break=50, 200 ");
  dialog.findChild<QPushButton*>("Btn_Ok")->click();
  EXPECT_EQ(refusals.size(), 1);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Values().ResetSequence, "break=50, 200");
  TF_Properties::Refuse() = nullptr;
}

}  // namespace
}  // namespace varnel
