// Drives the real calculator window with key and mouse events on Qt's offscreen
// platform and checks what the user sees: the six fields, the preset marks, the focus.
#include "calculator/tarvel_unit.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFontDatabase>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {

struct TarvelWindowTest : testing::Test {
  TFrmTarvel form;
  QStringList errors;

  void SetUp() override {
    form.SetErrorDisplay(
        [this](QWidget *, const QString &message) { errors << message; });
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  }

  QStringList Fields() const {
    return {form.Edit1Bytes->text(),  form.Edit2Sectors->text(), form.Edit3Minute->text(),
            form.Edit4Second->text(), form.Edit5Psecond->text(), form.Edit6MB->text()};
  }

  /// Number of the marked preset, 0 for none; fails on more than one mark.
  int Marked() const {
    QRadioButton *const buttons[] = {form.RdBtn1_74min, form.RdBtn2_80min,
                                     form.RdBtn3_90min, form.RdBtn4_99min,
                                     form.RdBtn5_DVD_120min};
    int marked = 0;
    for (int k = 1; k <= 5; ++k) {
      if (!buttons[k - 1]->isChecked()) continue;
      EXPECT_EQ(0, marked) << "two presets marked";
      marked = k;
    }
    return marked;
  }

  /// Empties the field as the mouse would (no key release), then types `keys`.
  void TypeIntoEmpty(QLineEdit *edit, const QString &keys) {
    edit->setFocus();
    edit->clear();
    QTest::keyClicks(edit, keys);
  }

  /// Puts `text` into the field as a paste would, then releases Shift there.
  void PasteAndRelease(QLineEdit *edit, const QString &text) {
    edit->setFocus();
    edit->selectAll();
    edit->insert(text);
    QTest::keyClick(edit, Qt::Key_Shift);
  }

  void DeleteAll(QLineEdit *edit) {
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
  }
};

using Texts = QStringList;

TEST_F(TarvelWindowTest, OpensWithOneMegabyteAndTheFocusInTheMegabyteField) {
  EXPECT_EQ(Texts({"1048576", "512", "0", "6", "62", "1"}), Fields());
  EXPECT_EQ(0, Marked());
  EXPECT_EQ(form.Edit6MB, QApplication::focusWidget());
  EXPECT_EQ(QString("CD DVD Size Conversion"), form.windowTitle());
  EXPECT_TRUE(errors.isEmpty());
}

TEST_F(TarvelWindowTest, LaysOutTheControlsOfTheTable) {
  struct Row {
    const char *name;
    QRect geometry;
  };
  const Row rows[] = {
      {"Edit6MB", {72, 144, 113, 21}},           {"Edit2Sectors", {72, 64, 113, 21}},
      {"Edit3Minute", {72, 104, 31, 21}},        {"Edit1Bytes", {72, 24, 113, 21}},
      {"Edit4Second", {120, 104, 23, 21}},       {"Edit5Psecond", {162, 104, 23, 21}},
      {"Btn1Close", {93, 296, 75, 25}},          {"RadioGroup1", {48, 184, 169, 89}},
      {"RdBtn1_74min", {56, 200, 65, 17}},       {"RdBtn2_80min", {144, 200, 65, 17}},
      {"RdBtn3_90min", {56, 224, 65, 17}},       {"RdBtn4_99min", {144, 224, 65, 17}},
      {"RdBtn5_DVD_120min", {56, 248, 129, 17}},
  };
  // Fitted to the font at hand: preset buttons and the frame may widen, the seconds
  // and psec fields may move right.
  const QSet<QString> widen = {"RadioGroup1",  "RdBtn1_74min", "RdBtn2_80min",
                               "RdBtn3_90min", "RdBtn4_99min", "RdBtn5_DVD_120min"};
  const QSet<QString> move = {"Edit4Second", "Edit5Psecond"};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    auto *widget = form.findChild<QWidget *>(row.name, Qt::FindDirectChildrenOnly);
    ASSERT_NE(nullptr, widget);
    if (widen.contains(row.name)) {
      EXPECT_EQ(row.geometry.topLeft(), widget->pos());
      EXPECT_EQ(row.geometry.height(), widget->height());
      EXPECT_GE(widget->width(), row.geometry.width());
    } else if (move.contains(row.name)) {
      EXPECT_EQ(row.geometry.size(), widget->size());
      EXPECT_EQ(row.geometry.top(), widget->y());
      EXPECT_GE(widget->x(), row.geometry.left());
    } else {
      EXPECT_EQ(row.geometry, widget->geometry());
    }
  }
  EXPECT_EQ(QPoint(192, 68), form.Label3->pos());
  EXPECT_EQ(QString("sectors"), form.Label3->text());
  EXPECT_EQ(QString("Standard CD/DVD"), form.RadioGroup1->title());
  EXPECT_EQ(QString("120min DVD (4.38GB)"), form.RdBtn5_DVD_120min->text());
  EXPECT_EQ(4, form.Edit3Minute->maxLength());
  EXPECT_EQ(2, form.Edit4Second->maxLength());
  EXPECT_EQ(2, form.Edit5Psecond->maxLength());

  QWidget *const tab_order[] = {form.Edit6MB,     form.Edit2Sectors, form.Edit3Minute,
                                form.Edit1Bytes,  form.Edit4Second,  form.Edit5Psecond,
                                form.Btn1Close,   form.RadioGroup1,  form.RdBtn1_74min,
                                form.RdBtn2_80min};
  for (size_t i = 1; i < std::size(tab_order); ++i)
    EXPECT_EQ(tab_order[i], tab_order[i - 1]->nextInFocusChain()) << i;

  EXPECT_EQ(QColor(0xA6, 0xCA, 0xF0), form.palette().color(QPalette::Window));
  EXPECT_EQ(8, form.font().pointSize());
  // Centred before the frame is known, so off by at most the frame's margins.
  EXPECT_LE((form.screen()->geometry().center() - form.frameGeometry().center())
                .manhattanLength(),
            8);
}

// At each font Debian ships by default (those installed here), and at the one the
// window picks itself: every caption shows whole, nothing covers anything else, the
// preset buttons lie inside their frame, and the rows keep their order.
TEST_F(TarvelWindowTest, NoCaptionIsCutOrCoveredAtTheDebianFonts) {
  QStringList families = {""};  // the window's own choice
  for (const char *family : {"DejaVu Sans", "DejaVu Sans Condensed", "Liberation Sans"})
    if (QFontDatabase::families().contains(family)) families << family;
  const QFont own = form.font();
  for (const QString &family : families) {
    SCOPED_TRACE(family.isEmpty() ? "the window's font" : family.toStdString());
    QFont font = own;
    if (!family.isEmpty()) font.setFamilies({family});
    form.setFont(font);

    const QList<QWidget *> widgets =
        form.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget *w : widgets) {
      SCOPED_TRACE(w->objectName().toStdString());
      EXPECT_TRUE(form.rect().contains(w->geometry()));
      if (qobject_cast<QLabel *>(w) || qobject_cast<QRadioButton *>(w)) {
        EXPECT_GE(w->width(), w->sizeHint().width());
      }
      if (qobject_cast<QRadioButton *>(w)) {
        EXPECT_TRUE(form.RadioGroup1->geometry().contains(w->geometry()));
        continue;
      }
      for (QWidget *other : widgets) {
        if (other == w || qobject_cast<QRadioButton *>(other)) continue;
        EXPECT_FALSE(w->geometry().intersects(other->geometry()))
            << "overlaps " << other->objectName().toStdString();
      }
    }
    // The left and right columns of captions keep their edges; the time row its order.
    for (QLabel *label : {form.Label4, form.Label9, form.Label10, form.Label11})
      EXPECT_EQ(36, label->x());
    for (QLabel *label : {form.Label2, form.Label3, form.Label5, form.Label8})
      EXPECT_EQ(192, label->x());
    EXPECT_EQ(103, form.Label6->x());
    QWidget *const row[] = {form.Label4, form.Edit3Minute,  form.Label6, form.Edit4Second,
                            form.Label7, form.Edit5Psecond, form.Label8};
    for (size_t i = 1; i < std::size(row); ++i)
      EXPECT_LT(row[i - 1]->geometry().right(), row[i]->x()) << i;
  }
}

TEST_F(TarvelWindowTest, FieldsAreNamedAfterTheirCaptions) {
  const std::pair<QLineEdit *, const char *> names[] = {
      {form.Edit1Bytes, "Size1 bytes"},   {form.Edit2Sectors, "Size2 sectors"},
      {form.Edit3Minute, "Time minutes"}, {form.Edit4Second, "Time seconds"},
      {form.Edit5Psecond, "Time psec"},   {form.Edit6MB, "Size3 MB"},
  };
  for (const auto &[edit, name] : names) {
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(edit);
    ASSERT_NE(nullptr, accessible);
    EXPECT_EQ(QString(name), accessible->text(QAccessible::Name));
    EXPECT_EQ(QAccessible::EditableText, accessible->role());
  }
}

TEST(TarvelErrorBoxTest, IsTitledWithTheProgramsName) {
  TFrmTarvel form;  // with the default error display, a message box
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QString title, text;
  QTimer::singleShot(0, [&] {
    QWidget *box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    title = box->windowTitle();
    if (auto *message = qobject_cast<QMessageBox *>(box)) text = message->text();
    box->close();
  });
  form.Edit6MB->setText(".");
  QTest::keyClick(form.Edit6MB, Qt::Key_Shift);
  EXPECT_EQ(QString("Tarvel"), title);
  EXPECT_TRUE(text.contains("\".\"")) << text.toStdString();
}

TEST_F(TarvelWindowTest, IconIs32PixelsIn16Colours) {
  const QImage icon = form.windowIcon().pixmap(32, 32).toImage();
  ASSERT_EQ(QSize(32, 32), icon.size());
  QSet<QRgb> colours;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) colours.insert(icon.pixel(x, y));
  EXPECT_GT(colours.size(), 2);
  EXPECT_LE(colours.size(), 16);
}

TEST_F(TarvelWindowTest, DeletingTheBytesGivesZeroEverywhere) {
  DeleteAll(form.Edit1Bytes);
  EXPECT_EQ(Texts({"0", "0", "0", "0", "0", "0"}), Fields());
}

TEST_F(TarvelWindowTest, BytesAreRoundedUpToWholeSectors) {
  TypeIntoEmpty(form.Edit1Bytes, "1");
  EXPECT_EQ(Texts({"2048", "1", "0", "0", "1", "0.001953125"}), Fields());

  PasteAndRelease(form.Edit1Bytes, "4095");
  EXPECT_EQ(Texts({"4096", "2", "0", "0", "2", "0.00390625"}), Fields());
}

TEST_F(TarvelWindowTest, APointInAnIntegerFieldResetsItToZero) {
  for (QLineEdit *edit : {form.Edit1Bytes, form.Edit2Sectors, form.Edit3Minute}) {
    SCOPED_TRACE(edit->objectName().toStdString());
    PasteAndRelease(form.Edit2Sectors, "4500");
    edit->setFocus();
    edit->end(false);
    QTest::keyClicks(edit, ".");
    EXPECT_EQ(QString("0"), edit->text());
    EXPECT_EQ(QString("0"), form.Edit6MB->text());
  }
  // The seconds field restarts from 0 with the minutes and psec it had.
  PasteAndRelease(form.Edit2Sectors, "4501");
  form.Edit4Second->setFocus();
  QTest::keyClicks(form.Edit4Second, ".");
  EXPECT_EQ(Texts({"9218048", "4501", "1", "0", "1", "8.791015625"}), Fields());
}

TEST_F(TarvelWindowTest, LettersAreDroppedAndChangeNothing) {
  const QStringList before = Fields();
  for (QLineEdit *edit : {form.Edit1Bytes, form.Edit2Sectors, form.Edit3Minute,
                          form.Edit4Second, form.Edit5Psecond, form.Edit6MB}) {
    SCOPED_TRACE(edit->objectName().toStdString());
    edit->setFocus();
    QTest::keyClicks(edit, "x");
    EXPECT_EQ(before, Fields());
  }
  EXPECT_TRUE(errors.isEmpty());
}

TEST_F(TarvelWindowTest, EveryFieldStopsAtItsLimit) {
  const Texts largest = {"92159997952", "44999999", "9999",
                         "59",          "74",       "87890.623046875"};

  PasteAndRelease(form.Edit1Bytes, "92159997953");
  EXPECT_EQ(largest, Fields());

  TypeIntoEmpty(form.Edit2Sectors, "45000000");
  EXPECT_EQ(largest, Fields());

  TypeIntoEmpty(form.Edit6MB, "87891");
  EXPECT_EQ(largest, Fields());

  TypeIntoEmpty(form.Edit3Minute, "99999");
  EXPECT_EQ(QString("9999"), form.Edit3Minute->text());

  PasteAndRelease(form.Edit2Sectors, "0");
  TypeIntoEmpty(form.Edit4Second, "75");
  EXPECT_EQ(Texts({"9062400", "4425", "0", "59", "0", "8.642578125"}), Fields());

  TypeIntoEmpty(form.Edit5Psecond, "80");
  EXPECT_EQ(Texts({"9213952", "4499", "0", "59", "74", "8.787109375"}), Fields());
  EXPECT_TRUE(errors.isEmpty());
}

TEST_F(TarvelWindowTest, TextsBeyond64BitsTakeTheDefaultAndStay) {
  PasteAndRelease(form.Edit1Bytes, "99999999999999999999");
  EXPECT_EQ(Texts({"99999999999999999999", "1", "0", "0", "1", "0.001953125"}), Fields());

  PasteAndRelease(form.Edit2Sectors, "99999999999999999999");
  EXPECT_EQ(Texts({"2048", "99999999999999999999", "0", "0", "1", "0.001953125"}),
            Fields());
}

TEST_F(TarvelWindowTest, MegabyteEntries) {
  DeleteAll(form.Edit6MB);
  EXPECT_EQ(Texts({"1048576", "512", "0", "6", "62", "1"}), Fields());

  TypeIntoEmpty(form.Edit6MB, "1.5");
  EXPECT_EQ(Texts({"1572864", "768", "0", "10", "18", "1.5"}), Fields());

  // Bytes beyond the last whole sector stay in the bytes field.
  PasteAndRelease(form.Edit6MB, "0.001");
  EXPECT_EQ(Texts({"1048", "0", "0", "0", "0", "0.001"}), Fields());
}

TEST_F(TarvelWindowTest, PresetsLoadAndAreMarkedByTheTime) {
  QTest::mouseClick(form.RdBtn1_74min, Qt::LeftButton);
  EXPECT_EQ(Texts({"688281600", "336075", "74", "41", "0", "656.396484375"}), Fields());
  EXPECT_EQ(1, Marked());

  QTest::mouseClick(form.RdBtn5_DVD_120min, Qt::LeftButton);
  EXPECT_EQ(Texts({"4700372992", "2295104", "510", "1", "29", "4482.625"}), Fields());
  EXPECT_EQ(5, Marked());

  TypeIntoEmpty(form.Edit2Sectors, "336075");
  EXPECT_EQ(1, Marked());
  QTest::keyClick(form.Edit2Sectors, Qt::Key_Backspace);
  QTest::keyClicks(form.Edit2Sectors, "6");
  EXPECT_EQ(QString("336076"), form.Edit2Sectors->text());
  EXPECT_EQ(0, Marked());
}

TEST_F(TarvelWindowTest, MarkingAPresetFromTheFieldsDoesNotReloadIt) {
  // A click handler would rewrite the bytes from the time and drop the extra 16 bytes.
  PasteAndRelease(form.Edit6MB, "656.3965");
  EXPECT_EQ(Texts({"688281616", "336075", "74", "41", "0", "656.3965"}), Fields());
  EXPECT_EQ(1, Marked());

  // Leading zeros of an edited field survive for the same reason.
  PasteAndRelease(form.Edit5Psecond, "00");
  EXPECT_EQ(QString("00"), form.Edit5Psecond->text());
  EXPECT_EQ(1, Marked());
}

TEST_F(TarvelWindowTest, AnEmptySecondsFieldReadsAsZeroOrOneByHandler) {
  PasteAndRelease(form.Edit2Sectors, "4500");
  form.Edit4Second->clear();
  form.Edit5Psecond->setFocus();
  QTest::keyClick(form.Edit5Psecond, Qt::Key_End);
  EXPECT_EQ(Texts({"9216000", "4500", "1", "0", "0", "8.7890625"}), Fields());

  form.Edit4Second->clear();
  form.Edit3Minute->setFocus();
  QTest::keyClick(form.Edit3Minute, Qt::Key_End);
  EXPECT_EQ(Texts({"9369600", "4575", "1", "1", "0", "8.935546875"}), Fields());
}

TEST_F(TarvelWindowTest, ANegativeCompanionTimeCountsAsZero) {
  PasteAndRelease(form.Edit2Sectors, "13500");
  form.Edit4Second->setText("-5");
  form.Edit3Minute->setFocus();
  QTest::keyClick(form.Edit3Minute, Qt::Key_End);
  EXPECT_EQ(Texts({"27648000", "13500", "3", "0", "0", "26.3671875"}), Fields());
  EXPECT_TRUE(errors.isEmpty());
}

TEST_F(TarvelWindowTest, ALonePointShowsTheConversionErrorAndChangesNothingElse) {
  QTest::mouseClick(form.RdBtn2_80min, Qt::LeftButton);
  const QStringList before = Fields();
  TypeIntoEmpty(form.Edit6MB, ".");
  ASSERT_EQ(1, errors.size());
  EXPECT_TRUE(errors[0].contains("\".\""));
  QStringList expected = before;
  expected[5] = ".";
  EXPECT_EQ(expected, Fields());
  EXPECT_EQ(2, Marked());

  // The window goes on working.
  QTest::keyClicks(form.Edit6MB, "5");
  EXPECT_EQ(Texts({"524288", "256", "0", "3", "31", ".5"}), Fields());
  EXPECT_EQ(1, errors.size());
}

TEST_F(TarvelWindowTest, AnUnchangedTextKeepsTheCaretAndADifferentOneMovesIt) {
  form.Edit1Bytes->setFocus();
  form.Edit1Bytes->end(false);
  QTest::keyClick(form.Edit1Bytes, Qt::Key_Left);
  QTest::keyClick(form.Edit1Bytes, Qt::Key_Left);
  EXPECT_EQ(5, form.Edit1Bytes->cursorPosition());

  QTest::keyClick(form.Edit1Bytes, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(QString("1048576"), form.Edit1Bytes->selectedText());

  form.Edit2Sectors->setFocus();
  form.Edit2Sectors->setCursorPosition(1);
  QTest::keyClicks(form.Edit2Sectors, "x");
  EXPECT_EQ(QString("512"), form.Edit2Sectors->text());
  EXPECT_EQ(3, form.Edit2Sectors->cursorPosition());
}

TEST_F(TarvelWindowTest, AutoRepeatedReleasesAreIgnored) {
  form.Edit1Bytes->setFocus();
  form.Edit1Bytes->setText("4095");
  QKeyEvent repeated(QEvent::KeyRelease, Qt::Key_5, Qt::NoModifier, "5", true);
  QApplication::sendEvent(form.Edit1Bytes, &repeated);
  EXPECT_EQ(QString("4095"), form.Edit1Bytes->text());

  QKeyEvent last(QEvent::KeyRelease, Qt::Key_5, Qt::NoModifier, "5", false);
  QApplication::sendEvent(form.Edit1Bytes, &last);
  EXPECT_EQ(QString("4096"), form.Edit1Bytes->text());
}

TEST_F(TarvelWindowTest, FocusFollowsTheMouse) {
  for (QLineEdit *edit : {form.Edit1Bytes, form.Edit4Second, form.Edit2Sectors,
                          form.Edit5Psecond, form.Edit3Minute, form.Edit6MB}) {
    SCOPED_TRACE(edit->objectName().toStdString());
    QTest::mouseMove(edit, edit->rect().center());
    EXPECT_EQ(edit, QApplication::focusWidget());
  }
}

/// Runs the event loop, as the program start does, with `action` as its first event;
/// a stuck loop is ended with status 99 so that the test fails instead of hanging.
int RunWith(TFrmTarvel &form, const std::function<void()> &action) {
  QTimer::singleShot(0, &form, action);
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] { QApplication::exit(99); });
  watchdog.start(10000);
  return QApplication::exec();
}

TEST(TarvelProgramTest, EscCloseAndTheWindowCommandEndTheProgramWithStatusZero) {
  const std::pair<const char *, std::function<void(TFrmTarvel &)>> ways[] = {
      {"Esc in a field",
       [](TFrmTarvel &form) { QTest::keyClick(form.Edit2Sectors, Qt::Key_Escape); }},
      {"Close",
       [](TFrmTarvel &form) { QTest::mouseClick(form.Btn1Close, Qt::LeftButton); }},
      {"window command", [](TFrmTarvel &form) { form.close(); }},
  };
  for (const auto &[name, close] : ways) {
    SCOPED_TRACE(name);
    TFrmTarvel form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(0, RunWith(form, [&] { close(form); }));
    EXPECT_FALSE(form.isVisible());
  }
}

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests at build time needs no display.
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
