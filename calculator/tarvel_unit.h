// The calculator window: six linked fields over the disc size model, five preset
// buttons and Close. Every key release in a field runs that field's handler from start
// to end: clean the text, read it, hand it to one model operation, write the other
// fields from the model and mark the preset whose playing time the model now holds.
// Errors raised by a handler (a lone "." in the megabyte field, a model overflow) go
// to one replaceable error display, after which the window goes on working.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "calculator/disc_size.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TFrmTarvel : public QWidget {
  Q_OBJECT

 public:
  /// Shows a handler's error text; by default in a message box over the form.
  using ErrorDisplay = std::function<void(QWidget *form, const QString &message)>;

  explicit TFrmTarvel(QWidget *parent = nullptr);
  void SetErrorDisplay(ErrorDisplay display);

  QLineEdit *Edit6MB = nullptr;
  QLineEdit *Edit2Sectors = nullptr;
  QLineEdit *Edit3Minute = nullptr;
  QLineEdit *Edit1Bytes = nullptr;
  QLabel *Label2 = nullptr;
  QLabel *Label3 = nullptr;
  QLabel *Label4 = nullptr;
  QLabel *Label5 = nullptr;
  QLineEdit *Edit4Second = nullptr;
  QLineEdit *Edit5Psecond = nullptr;
  QLabel *Label6 = nullptr;
  QLabel *Label7 = nullptr;
  QPushButton *Btn1Close = nullptr;
  QLabel *Label8 = nullptr;
  QLabel *Label9 = nullptr;
  QLabel *Label10 = nullptr;
  QLabel *Label11 = nullptr;
  QGroupBox *RadioGroup1 = nullptr;
  QRadioButton *RdBtn1_74min = nullptr;
  QRadioButton *RdBtn2_80min = nullptr;
  QRadioButton *RdBtn3_90min = nullptr;
  QRadioButton *RdBtn4_99min = nullptr;
  QRadioButton *RdBtn5_DVD_120min = nullptr;

  void Edit1BytesMouseMove();
  void Edit2SectorsMouseMove();
  void Edit3MinuteMouseMove();
  void Edit4SecondMouseMove();
  void Edit5PsecondMouseMove();
  void Edit6MBMouseMove();
  void Btn1CloseClick();
  void Edit1BytesKeyUp();
  void Edit2SectorsKeyUp();
  void Edit3MinuteKeyUp();
  void Edit4SecondKeyUp();
  void Edit5PsecondKeyUp();
  void Edit6MBKeyUp();
  void FormShow();
  void RdBtn1_74minClick();
  void RdBtn2_80minClick();
  void RdBtn3_90minClick();
  void RdBtn4_99minClick();
  void RdBtn5_DVD_120minClick();
  /// Recomputes the size from the current time and writes all six fields.
  void UpdateInfo();
  /// Marks the preset that matches the current time, or none.
  void UpdateStdInfo();

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  /// Lays the controls out again when the font changes.
  void changeEvent(QEvent *event) override;
  void showEvent(QShowEvent *event) override;

 private:
  using Handler = void (TFrmTarvel::*)();
  struct FieldHandlers {
    QLineEdit *edit;
    Handler key_up;
    Handler mouse_move;
  };

  void CreateControls();
  /// Fits the captions, the preset buttons, the time row and the frame to the font.
  void LayOut();
  void ConnectHandlers();
  void Run(Handler handler);
  std::string CleanIntegerField(QLineEdit *edit);
  std::string CleanMBField(QLineEdit *edit);
  void TimeKeyUp(QLineEdit *edited, int32_t second_fallback);
  void WriteFields(std::initializer_list<QLineEdit *> edits);
  void LoadPreset(int k);
  QRadioButton *PresetButton(int k) const;

  DiscSize disc_;
  ErrorDisplay error_display_;
  FieldHandlers fields_[6] = {};
  bool shown_ = false;
};

/// The program's one window, set by the program start.
extern TFrmTarvel *FrmTarvel;

/// Text of a field as the 8-bit text the filter and the conversions work on.
std::string GetText(const QLineEdit *edit);
/// Replaces the text and puts the caret at its end; an equal text changes nothing, so
/// the caret and selection of a field being typed in stay where they are.
void SetText(QLineEdit *edit, const std::string &text);
