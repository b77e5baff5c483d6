// The target properties dialog: a form over every setting of a project,
// with its own rules (register bit lists, the default-selection and
// manual-clock enable rules, two file pickers). It reads and writes no store;
// the caller fills it and takes its values.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QString>
#include <functional>
#include <optional>

#include "core/TargetUi.h"
#include "project/PropertyValues.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;

namespace varnel {

// An edit of a file path. While it has no focus and the path is wider than
// the field, the path shows cut in the middle, so that its start and the
// file's name both stay in sight; the tool tip holds the whole path, and
// editing shows it whole. The text itself is never shortened.
class PathEdit : public QLineEdit {
 public:
  explicit PathEdit(QWidget* parent = nullptr);
  // What the field draws now: the path, or the path cut in the middle.
  QString ShownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QRect TextRect() const;
};

class TF_Properties : public QDialog {
  Q_OBJECT
 public:
  explicit TF_Properties(QWidget* parent = nullptr);

  // The dialog for a request: filled, shown through show (a modal run when
  // none is given), and its values when confirmed.
  static std::optional<PropertyValues> Run(const PropertiesRequest& request, QWidget* parent,
                                           const std::function<bool(TF_Properties&)>& show = {});

  // The caption for a project: "Target properties - demo.prj".
  void SetProjectName(const QString& fileName);

  // Controls, by their names, for the caller to fill and read.
  QComboBox* ComboPort;
  QComboBox* ComboSpeed;
  QCheckBox* CheckDTR;
  QComboBox* Cmb_ResetSeq;  // the board's reset sequence, used with CheckDTR
  QLabel* Lbl_HCR0;
  QLabel* Lbl_HCR1;
  QListWidget* CheckHCR0;
  QListWidget* CheckHCR1;
  QCheckBox *CheckCode, *CheckSFR, *CheckIRAM, *CheckExtRAM, *CheckDefault;
  QLineEdit *Edt_CodeMin, *Edt_CodeMax, *Edt_SFRMin, *Edt_SFRMax;
  QLineEdit *Edt_IRAMMin, *Edt_IRAMMax, *Edt_ExtMin, *Edt_ExtMax;
  QCheckBox *CheckErase0, *CheckErase1, *CheckProg1, *CheckProg0, *CheckVerify;
  QLineEdit *Edt_ProgMin, *Edt_ProgMax;
  QLineEdit *Edt_HexFile, *Edt_LstFile;
  QLineEdit *Edt_RealClk, *Edt_AutoClk;
  QCheckBox* CheckManual;

  // Fills every control but CheckIRAM and Edt_AutoClk from the values. For
  // a new project the speed box stays empty and the internal RAM range keeps
  // its designed contents.
  enum class FillMode { Configure, NewProject };
  void Fill(const PropertyValues& values, FillMode mode);
  // Edt_AutoClk: the clock estimate in MHz, shortest general form.
  void SetComputedClock(std::int32_t coreClockHz);
  // The values as shown (texts as typed, check states).
  PropertyValues Values() const;

  // Selects the item whose text equals text exactly, or shows an empty box.
  static void SelectExact(QComboBox* combo, const QString& text);

  // Register label -> bit lists (items of 0 bits are left as they are).
  void ComputeBitsHCR();
  // Bit list -> register label, after every click in a list.
  void CheckHCR0Click();
  void CheckHCR1Click();
  void CheckDefaultClick();
  void CheckManualClick();
  // The reset sequence is offered while RTS/DTR control is on.
  void CheckDTRClick();
  void SpeedButton1Click();
  void SpeedButton2Click();
  void Btn_OkClick();
  void Btn_CancelClick();

  // The folder pickers start in when their field is empty.
  QString WorkDir;

  // How a file is picked: (parent, start folder, filter list) -> chosen path
  // or empty. Tests replace it; the default is the file open dialog.
  using FilePicker = std::function<QString(QWidget*, const QString&, const QStringList&)>;
  static FilePicker& Picker();
  // How the dialog refuses a confirmation: (parent, the reason) shown to
  // the user. Tests replace it; the default is an error box.
  using Refusal = std::function<void(QWidget*, const QString&)>;
  static Refusal& Refuse();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void PickInto(QLineEdit* field, const QStringList& filters);
  static void BitsToLabel(QListWidget* list, QLabel* label);

  QList<QWidget*> selectionWidgets_;  // what the default selection disables
  QList<QWidget*> manualWidgets_;     // enabled with manual clock entry
  QList<QWidget*> autoWidgets_;       // enabled without it
};

// The file name after the user picked another file type: the extension is
// swapped for the type's own ("*.bin"), and the name is left alone for a type
// without one ("*.*") or a name without an extension.
QString SwapExtensionForFilter(const QString& name, const QString& filter);

// The file dialogs of New and Open, and their filters.
QStringList OpenFilters();
QStringList NewFilters();
// The path picked, or empty when cancelled.
std::string ChooseFileWithDialog(FileChoice choice, const std::string& startDir, QWidget* parent);

}  // namespace varnel
