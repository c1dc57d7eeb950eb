#include "calculator/tarvel_unit.h"

#include <QEvent>
#include <QFont>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <algorithm>
#include <exception>

#include "calculator/conversions.h"
#include "calculator/input_filter.h"
#include "calculator/tarvel_icon.xpm"

TFrmTarvel *FrmTarvel = nullptr;

namespace {

// The layout's outer size is 270 x 381 with a 4-pixel border and a 23-pixel caption
// bar around the client area, which is what the window sizes here.
constexpr int kClientWidth = 270 - 2 * 4;
constexpr int kClientHeight = 381 - 2 * 4 - 19;
const QColor kSkyBlue(0xA6, 0xCA, 0xF0);

// The program's name, as the title of its message boxes.
const char *const kProgramName = "Tarvel";

// The time row's places in the layout, which the font in use may push right (see
// LayOut).
constexpr int kSecondLeft = 120;
constexpr int kSecLeft = 143;
constexpr int kPsecondLeft = 162;
// The frame's margin right of its widest row of buttons.
constexpr int kFrameMargin = 8;

QLabel *MakeLabel(QWidget *form, const char *name, const char *caption, int left, int top,
                  int width, int height) {
  auto *label = new QLabel(QString::fromLatin1(caption), form);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(left, top, width, height);
  label->setMinimumWidth(width);  // the layout's own width, kept for LayOut
  return label;
}

QLineEdit *MakeEdit(QWidget *form, const char *name, const char *accessible_name,
                    const char *text, int left, int top, int width, int height) {
  auto *edit = new QLineEdit(QString::fromLatin1(text), form);
  edit->setObjectName(QString::fromLatin1(name));
  // A screen reader announces the field by its captions rather than as "text".
  edit->setAccessibleName(QString::fromLatin1(accessible_name));
  edit->setGeometry(left, top, width, height);
  edit->setMouseTracking(true);
  return edit;
}

QRadioButton *MakePreset(QWidget *form, int k, int left, int top, int width) {
  const StdDisc &disc = StdDiscs[k - 1];
  auto *button = new QRadioButton(QString::fromLatin1(disc.Caption), form);
  button->setObjectName(QString::fromLatin1(disc.Button));
  button->setGeometry(left, top, width, 17);
  button->setMinimumWidth(width);
  return button;
}

/// Sizes `widget` from its left edge to what its text needs at the font in use,
/// never below the layout's own width.
void FitWidth(QWidget *widget) {
  widget->resize(std::max(widget->minimumWidth(), widget->sizeHint().width()),
                 widget->height());
}

void ShowErrorBox(QWidget *form, const QString &message) {
  QMessageBox::critical(form, QString::fromLatin1(kProgramName), message);
}

}  // namespace

std::string GetText(const QLineEdit *edit) {
  return edit->text().toLatin1().toStdString();
}

void SetText(QLineEdit *edit, const std::string &text) {
  const QString new_text = QString::fromLatin1(text);
  if (edit->text() == new_text) return;
  edit->setText(new_text);
  edit->end(false);
}

TFrmTarvel::TFrmTarvel(QWidget *parent) : QWidget(parent), error_display_(ShowErrorBox) {
  setObjectName("FrmTarvel");
  setWindowTitle("CD DVD Size Conversion");
  setWindowIcon(QIcon(QPixmap(MAINICON)));
  QFont font;
  // The layout was measured in a narrow 8-point sans; where that is missing, the
  // narrowest common sans faces keep the captions inside their controls.
  font.setFamilies(
      {"MS Sans Serif", "Liberation Sans", "DejaVu Sans Condensed", "Sans Serif"});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  setFont(font);
  QPalette sky = palette();
  sky.setColor(QPalette::Window, kSkyBlue);
  setPalette(sky);
  setAutoFillBackground(true);
  resize(kClientWidth, kClientHeight);

  CreateControls();
  LayOut();
  ConnectHandlers();

  if (const QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
}

void TFrmTarvel::CreateControls() {
  Label2 = MakeLabel(this, "Label2", "MB", 192, 148, 16, 13);
  Label3 = MakeLabel(this, "Label3", "sectors", 192, 68, 34, 13);
  Label4 = MakeLabel(this, "Label4", "Time:", 36, 108, 26, 13);
  Label5 = MakeLabel(this, "Label5", "bytes", 192, 28, 25, 13);
  Label6 = MakeLabel(this, "Label6", "min", 103, 108, 16, 13);
  Label7 = MakeLabel(this, "Label7", "sec", kSecLeft, 108, 17, 13);
  Label8 = MakeLabel(this, "Label8", "psec", 192, 108, 23, 13);
  Label9 = MakeLabel(this, "Label9", "Size1:", 36, 28, 29, 13);
  Label10 = MakeLabel(this, "Label10", "Size2:", 36, 68, 29, 13);
  Label11 = MakeLabel(this, "Label11", "Size3:", 36, 148, 29, 13);

  Edit6MB = MakeEdit(this, "Edit6MB", "Size3 MB", "1", 72, 144, 113, 21);
  Edit6MB->setLayoutDirection(Qt::LeftToRight);
  Edit2Sectors = MakeEdit(this, "Edit2Sectors", "Size2 sectors", "", 72, 64, 113, 21);
  Edit3Minute = MakeEdit(this, "Edit3Minute", "Time minutes", "", 72, 104, 31, 21);
  Edit3Minute->setMaxLength(4);
  Edit1Bytes = MakeEdit(this, "Edit1Bytes", "Size1 bytes", "", 72, 24, 113, 21);
  Edit4Second =
      MakeEdit(this, "Edit4Second", "Time seconds", "", kSecondLeft, 104, 23, 21);
  Edit4Second->setMaxLength(2);
  Edit5Psecond =
      MakeEdit(this, "Edit5Psecond", "Time psec", "", kPsecondLeft, 104, 23, 21);
  Edit5Psecond->setMaxLength(2);

  Btn1Close = new QPushButton("Close", this);
  Btn1Close->setObjectName("Btn1Close");
  Btn1Close->setGeometry(93, 296, 75, 25);

  // A captioned frame only: the preset buttons are the form's children, so the
  // toolkit keeps at most one of them marked.
  RadioGroup1 = new QGroupBox("Standard CD/DVD", this);
  RadioGroup1->setObjectName("RadioGroup1");
  RadioGroup1->setGeometry(48, 184, 169, 89);

  RdBtn1_74min = MakePreset(this, 1, 56, 200, 65);
  RdBtn2_80min = MakePreset(this, 2, 144, 200, 65);
  RdBtn3_90min = MakePreset(this, 3, 56, 224, 65);
  RdBtn4_99min = MakePreset(this, 4, 144, 224, 65);
  RdBtn5_DVD_120min = MakePreset(this, 5, 56, 248, 129);

  QWidget *const tab_order[] = {
      Edit6MB,      Edit2Sectors, Edit3Minute,      Edit1Bytes,   Edit4Second,
      Edit5Psecond, Btn1Close,    RadioGroup1,      RdBtn1_74min, RdBtn2_80min,
      RdBtn3_90min, RdBtn4_99min, RdBtn5_DVD_120min};
  for (size_t i = 1; i < std::size(tab_order); ++i)
    setTabOrder(tab_order[i - 1], tab_order[i]);
  Edit6MB->setFocus();
}

void TFrmTarvel::LayOut() {
  // Captions and preset buttons widen from their left edge to fit their text, so that
  // a font wider than the layout's own cuts nothing off.
  for (QLabel *label : findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly))
    FitWidth(label);
  for (int k = 1; k <= 5; ++k) FitWidth(PresetButton(k));

  // The time row keeps its order: the seconds field, "sec" and the psec field stay
  // where the layout puts them unless the caption or field before them needs the room,
  // and then move right just clear of it. "min" stays beside the minutes field and
  // "psec" in the column of the other units.
  Edit4Second->move(std::max(kSecondLeft, Label6->geometry().right() + 1),
                    Edit4Second->y());
  Label7->move(std::max(kSecLeft, Edit4Second->geometry().right() + 1), Label7->y());
  Edit5Psecond->move(std::max(kPsecondLeft, Label7->geometry().right() + 1),
                     Edit5Psecond->y());

  // The frame widens to keep every preset button inside it.
  int right = 0;
  for (int k = 1; k <= 5; ++k)
    right = std::max(right, PresetButton(k)->geometry().right());
  RadioGroup1->resize(std::max(169, right + 1 + kFrameMargin - RadioGroup1->x()),
                      RadioGroup1->height());
}

void TFrmTarvel::changeEvent(QEvent *event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange && RadioGroup1 != nullptr) LayOut();
}

void TFrmTarvel::ConnectHandlers() {
  fields_[0] = {Edit1Bytes, &TFrmTarvel::Edit1BytesKeyUp,
                &TFrmTarvel::Edit1BytesMouseMove};
  fields_[1] = {Edit2Sectors, &TFrmTarvel::Edit2SectorsKeyUp,
                &TFrmTarvel::Edit2SectorsMouseMove};
  fields_[2] = {Edit3Minute, &TFrmTarvel::Edit3MinuteKeyUp,
                &TFrmTarvel::Edit3MinuteMouseMove};
  fields_[3] = {Edit4Second, &TFrmTarvel::Edit4SecondKeyUp,
                &TFrmTarvel::Edit4SecondMouseMove};
  fields_[4] = {Edit5Psecond, &TFrmTarvel::Edit5PsecondKeyUp,
                &TFrmTarvel::Edit5PsecondMouseMove};
  fields_[5] = {Edit6MB, &TFrmTarvel::Edit6MBKeyUp, &TFrmTarvel::Edit6MBMouseMove};
  for (const FieldHandlers &field : fields_) field.edit->installEventFilter(this);

  const Handler clicks[] = {
      &TFrmTarvel::RdBtn1_74minClick, &TFrmTarvel::RdBtn2_80minClick,
      &TFrmTarvel::RdBtn3_90minClick, &TFrmTarvel::RdBtn4_99minClick,
      &TFrmTarvel::RdBtn5_DVD_120minClick};
  for (int k = 1; k <= 5; ++k) {
    const Handler click = clicks[k - 1];
    connect(PresetButton(k), &QRadioButton::clicked, this, [this, click] { Run(click); });
  }
  connect(Btn1Close, &QPushButton::clicked, this,
          [this] { Run(&TFrmTarvel::Btn1CloseClick); });
  // Esc presses Close from anywhere in the window, the fields included.
  auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, Btn1Close, &QPushButton::click);
}

void TFrmTarvel::SetErrorDisplay(ErrorDisplay display) {
  error_display_ = std::move(display);
}

bool TFrmTarvel::eventFilter(QObject *watched, QEvent *event) {
  for (const FieldHandlers &field : fields_) {
    if (field.edit != watched) continue;
    if (event->type() == QEvent::KeyRelease) {
      // A key held down gives one release at its end, not one per repeat.
      if (!static_cast<QKeyEvent *>(event)->isAutoRepeat()) Run(field.key_up);
    } else if (event->type() == QEvent::MouseMove) {
      Run(field.mouse_move);
    }
    break;
  }
  return QWidget::eventFilter(watched, event);
}

void TFrmTarvel::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  Run(&TFrmTarvel::FormShow);
}

void TFrmTarvel::Run(Handler handler) {
  try {
    (this->*handler)();
  } catch (const std::exception &error) {
    error_display_(this, QString::fromStdString(error.what()));
  }
}

std::string TFrmTarvel::CleanIntegerField(QLineEdit *edit) {
  SetText(edit, FilterNonNumChars(GetText(edit)));
  // A point in a whole number resets the field rather than cutting the fraction off.
  if (GetText(edit).find('.') != std::string::npos) SetText(edit, "0");
  return GetText(edit);
}

std::string TFrmTarvel::CleanMBField(QLineEdit *edit) {
  SetText(edit, FilterNonNumChars(GetText(edit)));
  // An emptied field reads as one megabyte, so it never stays empty or "0".
  if (GetText(edit) == "0") SetText(edit, "1");
  return GetText(edit);
}

void TFrmTarvel::WriteFields(std::initializer_list<QLineEdit *> edits) {
  for (QLineEdit *edit : edits) {
    if (edit == Edit1Bytes) SetText(edit, IntToStr(disc_.Bytes));
    if (edit == Edit2Sectors) SetText(edit, IntToStr(disc_.Sectors));
    if (edit == Edit3Minute) SetText(edit, IntToStr(disc_.Minute));
    if (edit == Edit4Second) SetText(edit, IntToStr(disc_.Second));
    if (edit == Edit5Psecond) SetText(edit, IntToStr(disc_.Psecond));
    if (edit == Edit6MB) SetText(edit, FloatToStr(disc_.MBValue()));
  }
}

void TFrmTarvel::Edit1BytesMouseMove() { Edit1Bytes->setFocus(); }
void TFrmTarvel::Edit2SectorsMouseMove() { Edit2Sectors->setFocus(); }
void TFrmTarvel::Edit3MinuteMouseMove() { Edit3Minute->setFocus(); }
void TFrmTarvel::Edit4SecondMouseMove() { Edit4Second->setFocus(); }
void TFrmTarvel::Edit5PsecondMouseMove() { Edit5Psecond->setFocus(); }
void TFrmTarvel::Edit6MBMouseMove() { Edit6MB->setFocus(); }

void TFrmTarvel::Btn1CloseClick() { close(); }

void TFrmTarvel::Edit1BytesKeyUp() {
  const int64_t value = StrToInt64Def(CleanIntegerField(Edit1Bytes), 2048);
  if (disc_.SetFromBytes(value)) SetText(Edit1Bytes, IntToStr(disc_.Bytes));
  WriteFields({Edit2Sectors, Edit3Minute, Edit4Second, Edit5Psecond, Edit6MB});
  UpdateStdInfo();
}

void TFrmTarvel::Edit2SectorsKeyUp() {
  const int64_t value = StrToInt64Def(CleanIntegerField(Edit2Sectors), 1);
  if (disc_.SetFromSectors(value)) SetText(Edit2Sectors, IntToStr(MaxSectors));
  WriteFields({Edit1Bytes, Edit3Minute, Edit4Second, Edit5Psecond, Edit6MB});
  UpdateStdInfo();
}

// The three time fields share one rule: the edited field is cleaned and clamped with
// ClampEdited, the other two are read as they stand (they may hold text pasted with the
// mouse) and clamped with ClampCompanion, and the values used are written back.
void TFrmTarvel::TimeKeyUp(QLineEdit *edited, int32_t second_fallback) {
  const std::string edited_text = CleanIntegerField(edited);
  QLineEdit *const edits[3] = {Edit3Minute, Edit4Second, Edit5Psecond};
  const uint32_t limits[3] = {MaxMinute, MaxSecond, MaxPsecond};
  const int32_t fallbacks[3] = {1, second_fallback, 1};
  uint32_t values[3];
  for (int i = 0; i < 3; ++i) {
    if (edits[i] == edited) {
      const EditedClamp clamp = ClampEdited(StrToIntDef(edited_text, 1), limits[i]);
      if (clamp.Rewrite) SetText(edited, IntToStr(clamp.Value));
      values[i] = clamp.Value;
    } else {
      values[i] = ClampCompanion(StrToIntDef(GetText(edits[i]), fallbacks[i]),
                                 static_cast<int32_t>(limits[i]));
    }
  }
  disc_.SetFromTime(values[0], values[1], values[2]);
  WriteFields({Edit1Bytes, Edit2Sectors});
  for (QLineEdit *edit : edits)
    if (edit != edited) WriteFields({edit});
  WriteFields({Edit6MB});
  UpdateStdInfo();
}

void TFrmTarvel::Edit3MinuteKeyUp() { TimeKeyUp(Edit3Minute, 1); }
void TFrmTarvel::Edit4SecondKeyUp() { TimeKeyUp(Edit4Second, 1); }
void TFrmTarvel::Edit5PsecondKeyUp() { TimeKeyUp(Edit5Psecond, 0); }

void TFrmTarvel::Edit6MBKeyUp() {
  const long double mb = StrToFloat(CleanMBField(Edit6MB));
  if (disc_.SetFromMB(mb)) SetText(Edit6MB, FormatMB(MaxBytesFloat / 1024.0L / 1024.0L));
  WriteFields({Edit1Bytes, Edit2Sectors, Edit3Minute, Edit4Second, Edit5Psecond});
  UpdateStdInfo();
}

void TFrmTarvel::FormShow() {
  disc_.SetFromWholeMB(StrToInt64Def(CleanMBField(Edit6MB), 1));
  WriteFields({Edit1Bytes, Edit2Sectors, Edit3Minute, Edit4Second, Edit5Psecond});
  UpdateStdInfo();
}

QRadioButton *TFrmTarvel::PresetButton(int k) const {
  QRadioButton *const buttons[5] = {RdBtn1_74min, RdBtn2_80min, RdBtn3_90min,
                                    RdBtn4_99min, RdBtn5_DVD_120min};
  return buttons[k - 1];
}

void TFrmTarvel::LoadPreset(int k) {
  disc_.LoadStdDisc(k);
  UpdateInfo();
}

void TFrmTarvel::RdBtn1_74minClick() { LoadPreset(1); }
void TFrmTarvel::RdBtn2_80minClick() { LoadPreset(2); }
void TFrmTarvel::RdBtn3_90minClick() { LoadPreset(3); }
void TFrmTarvel::RdBtn4_99minClick() { LoadPreset(4); }
void TFrmTarvel::RdBtn5_DVD_120minClick() { LoadPreset(5); }

void TFrmTarvel::UpdateInfo() {
  disc_.SetFromTime(disc_.Minute, disc_.Second, disc_.Psecond);
  WriteFields(
      {Edit1Bytes, Edit2Sectors, Edit3Minute, Edit4Second, Edit5Psecond, Edit6MB});
}

void TFrmTarvel::UpdateStdInfo() {
  for (int k = 1; k <= 5; ++k) {
    // An exclusive button refuses to be unmarked while it is the marked one, and the
    // window must be able to show no preset at all.
    QRadioButton *button = PresetButton(k);
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(true);
  }
  if (const int k = disc_.MatchStdDisc()) PresetButton(k)->setChecked(true);
}
