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

  QLineEdit *Edit6MB;
  QLineEdit *Edit2Sectors;
  QLineEdit *Edit3Minute;
  QLineEdit *Edit1Bytes;
  QLabel *Label2;
  QLabel *Label3;
  QLabel *Label4;
  QLabel *Label5;
  QLineEdit *Edit4Second;
  QLineEdit *Edit5Psecond;
  QLabel *Label6;
  QLabel *Label7;
  QPushButton *Btn1Close;
  QLabel *Label8;
  QLabel *Label9;
  QLabel *Label10;
  QLabel *Label11;
  QGroupBox *RadioGroup1;
  QRadioButton *RdBtn1_74min;
  QRadioButton *RdBtn2_80min;
  QRadioButton *RdBtn3_90min;
  QRadioButton *RdBtn4_99min;
  QRadioButton *RdBtn5_DVD_120min;

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
  void showEvent(QShowEvent *event) override;

 private:
  using Handler = void (TFrmTarvel::*)();
  struct FieldHandlers {
    QLineEdit *edit;
    Handler key_up;
    Handler mouse_move;
  };

  void CreateControls();
  void ConnectHandlers();
  void Run(Handler handler);
  std::string CleanIntegerField(QLineEdit *edit);
  std::string CleanMBField(QLineEdit *edit);
  void TimeKeyUp(QLineEdit *edited, int32_t second_fallback);
  void WriteFields(std::initializer_list<QLineEdit *> edits);
  void LoadPreset(int k);
  QRadioButton *PresetButton(int k) const;

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
