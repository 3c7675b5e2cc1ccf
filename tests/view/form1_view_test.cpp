#include "view/qt/form1_view.hpp"
#include "view/qt/log_view.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionGroupBox>
#include <QToolButton>
#include <QWindow>
#include <string>
#include <vector>

#include "sim_window.hpp"
#include "view/qt/twips.hpp"

namespace pasotune::test {
namespace {

// Left, top, width and height in twips, inside the named container.
struct Placed {
  const char* name;
  const char* container;
  int left, top, width, height;
};

const Placed kLayout[] = {
    {"Frame1", "Form1", 120, 120, 1815, 1815},      {"HPORT", "Frame1", 120, 360, 1095, 345},
    {"Shape1", "Frame1", 1375, 400, 255, 255},      {"Command1", "Frame1", 120, 840, 1575, 855},
    {"Frame3", "Form1", 120, 1920, 1815, 1815},     {"ComboST", "Frame3", 360, 360, 1095, 345},
    {"Command3", "Frame3", 120, 840, 1575, 375},    {"Command4", "Frame3", 120, 1320, 1575, 375},
    {"List1", "Form1", 2040, 240, 4455, 1635},      {"Frame2", "Form1", 2040, 1920, 4455, 1815},
    {"Label1", "Frame2", 120, 360, 1215, 375},      {"LabelSat", "Frame2", 1440, 360, 2775, 255},
    {"Label2", "Frame2", 360, 840, 975, 375},       {"LabelTX", "Frame2", 1440, 840, 1935, 255},
    {"LabelModoTX", "Frame2", 3360, 840, 975, 255}, {"Label3", "Frame2", 120, 1200, 1215, 375},
    {"LabelRX", "Frame2", 1440, 1200, 1935, 255},   {"LabelModoRX", "Frame2", 3360, 1200, 975, 255},
    {"Command2", "Form1", 6720, 600, 1815, 735},    {"txtDDE", "Form1", 240, 4800, 10335, 495},
};

class Layout : public ::testing::TestWithParam<Placed> {};

TEST_P(Layout, SitsWhereTheTwipsSayAtTheScreensDpi) {
  const Placed& p = GetParam();
  SimWindow w;
  auto* widget = w.Find<QWidget>(p.name);
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(p.container));
  const double dx = w.view->logicalDpiX(), dy = w.view->logicalDpiY();
  const QRect g = widget->geometry();
  EXPECT_NEAR(g.x(), p.left * dx / 1440, 1);
  EXPECT_NEAR(g.y(), p.top * dy / 1440, 1);
  EXPECT_NEAR(g.width(), p.width * dx / 1440, 1);
  EXPECT_NEAR(g.height(), p.height * dy / 1440, 1);
}

void PrintTo(const Placed& p, std::ostream* os) {
  *os << p.name;
}

INSTANTIATE_TEST_SUITE_P(Form1, Layout, ::testing::ValuesIn(kLayout),
                         [](const auto& info) { return std::string(info.param.name); });

struct TwipsCase {
  int twips;
  double dpi;
  int pixels;
};

TEST(TwipsToPixels, RoundsToTheNearestPixelAtAnyDpi) {
  for (const TwipsCase& c :
       {TwipsCase{6675, 96, 445}, TwipsCase{4290, 96, 286}, TwipsCase{15, 96, 1},
        TwipsCase{255, 96, 17}, TwipsCase{6675, 144, 668}, TwipsCase{345, 120, 29},
        TwipsCase{0, 192, 0}}) {
    EXPECT_EQ(TwipsToPixels(c.twips, c.dpi), c.pixels) << c.twips << " twips at " << c.dpi;
  }
}

struct Typeface {
  const char* name;
  double points;
  bool bold;
};

// What the user sees of a monospace face: a narrow and a wide letter take
// the same room.
void ExpectMonospace(const QWidget* widget) {
  const QFontMetricsF metrics(widget->font(), widget);
  EXPECT_GT(metrics.horizontalAdvance(QLatin1Char('i')), 0);
  EXPECT_EQ(metrics.horizontalAdvance(QLatin1Char('i')),
            metrics.horizontalAdvance(QLatin1Char('W')));
}

TEST(Fonts, MonospaceAtTheGivenSizesBoldWhereSaid) {
  SimWindow w;
  const QStringList installed = QFontDatabase::families();
  const QString family =
      installed.contains(QStringLiteral("Consolas")) ? QStringLiteral("Consolas")
      : installed.contains(QStringLiteral("Inconsolata"))
          ? QStringLiteral("Inconsolata")
          : QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).family();
  for (const Typeface& t : {Typeface{"Frame1", 9.75, true}, Typeface{"HPORT", 9.75, true},
                            Typeface{"Command1", 9.75, true}, Typeface{"Frame3", 9.75, true},
                            Typeface{"ComboST", 9.75, true}, Typeface{"Command3", 9.75, false},
                            Typeface{"Command4", 9.75, false}, Typeface{"List1", 9.75, false},
                            Typeface{"Frame2", 12, false}, Typeface{"Label1", 12, false},
                            Typeface{"LabelSat", 12, true}, Typeface{"Label2", 12, false},
                            Typeface{"LabelTX", 12, false}, Typeface{"LabelModoTX", 12, false},
                            Typeface{"Label3", 12, false}, Typeface{"LabelRX", 12, false},
                            Typeface{"LabelModoRX", 12, false}, Typeface{"Command2", 12, false}}) {
    SCOPED_TRACE(t.name);
    const QWidget* widget = w.Find<QWidget>(t.name);
    const QFont font = widget->font();
    EXPECT_EQ(font.family().toStdString(), family.toStdString());
    EXPECT_EQ(QFontInfo(font).family().toStdString(), family.toStdString());
    EXPECT_DOUBLE_EQ(font.pointSizeF(), t.points);
    EXPECT_EQ(font.bold(), t.bold);
    ExpectMonospace(widget);
  }
  EXPECT_EQ(w.Find<QWidget>("txtDDE")->font(), QApplication::font(w.Find<QWidget>("txtDDE")));
}

// Every text a control can show, set through the model, fits the control:
// with the family the window chooses here, and with every other monospace
// face installed, any of which a desktop may have in its place.
TEST(Fonts, EveryCaptionFitsItsControlInEachFace) {
  QStringList faces{QString()};
  for (const QString& family : QFontDatabase::families()) {
    if (QFontDatabase::isFixedPitch(family) || family.contains(QStringLiteral("Mono"))) {
      faces << family;
    }
  }
  ASSERT_GE(faces.size(), 3);  // the chosen one and at least one other, each by name
  for (const QString& family : faces) {
    SimWindow w(family);
    Form1& f = w.app.form;
    SCOPED_TRACE(w.Find<QWidget>("Label1")->font().family().toStdString());

    const auto fits = [&](const char* name, const QString& text, int needed) {
      const QWidget* widget = w.Find<QWidget>(name);
      EXPECT_LE(needed, widget->width()) << name << " \"" << text.toStdString() << "\"";
    };
    const auto label = [&](const char* name) {
      const auto* l = w.Find<QLabel>(name);
      fits(name, l->text(), QFontMetrics(l->font(), l).horizontalAdvance(l->text()));
      ExpectMonospace(l);
    };
    const auto button = [&](const char* name, Button& model, const std::string& caption) {
      model.SetCaption(caption);
      const auto* b = w.Find<QAbstractButton>(name);
      ASSERT_EQ(b->text().toStdString(), caption);
      fits(name, b->text(), b->sizeHint().width());
    };

    for (const char* name : {"Label1", "Label2", "Label3"}) label(name);
    // The widest frequency a whole number of Hz can make.
    for (Label* model : {&f.LabelTX, &f.LabelRX}) model->SetCaption("-2147.483648");
    label("LabelTX");
    label("LabelRX");
    for (const char* caption : {"Conectar", "Desconectar"}) button("Command1", f.Command1, caption);
    for (const std::string& tone : f.ComboST.Items()) {
      button("Command3", f.Command3, "CTCSS " + tone);
    }
    button("Command4", f.Command4, "CTCSS OFF ");
    button("Command2", f.Command2, "Orbitron");
    for (const char* name : {"HPORT", "ComboST"}) {
      const auto* box = w.Find<QComboBox>(name);
      ASSERT_GT(box->count(), 0);
      fits(name, box->itemText(box->count() - 1), box->sizeHint().width());
    }
    for (const char* name : {"Frame1", "Frame2", "Frame3"}) {
      const auto* frame = w.Find<QGroupBox>(name);
      fits(name, frame->title(), frame->minimumSizeHint().width());
    }
  }
}

// The colour a widget really paints at a point.
QColor PaintedAt(QWidget* widget, QPoint at) {
  return widget->grab().toImage().pixelColor(at * widget->devicePixelRatioF());
}

struct Look {
  const char* name;
  QColor text;
  QColor background;  // invalid: the window's own
  Qt::Alignment align;
};

TEST(Looks, ColoursAndAlignmentOfTheLogAndLabels) {
  SimWindow w;
  const QColor grey(224, 224, 224);
  const Qt::Alignment right = Qt::AlignRight | Qt::AlignTop;
  const Qt::Alignment left = Qt::AlignLeft | Qt::AlignTop;
  const Qt::Alignment centre = Qt::AlignHCenter | Qt::AlignTop;
  const QColor normal = w.view->palette().color(QPalette::WindowText);
  for (const Look& l :
       {Look{"Label1", normal, {}, right}, Look{"Label2", normal, {}, right},
        Look{"Label3", normal, {}, right}, Look{"LabelSat", QColor(0, 128, 0), grey, left},
        Look{"LabelTX", QColor(0, 0, 128), grey, left},
        Look{"LabelRX", QColor(0, 0, 128), grey, left},
        Look{"LabelModoTX", QColor(255, 0, 0), grey, centre},
        Look{"LabelModoRX", QColor(255, 0, 0), grey, centre}}) {
    SCOPED_TRACE(l.name);
    auto* label = w.Find<QLabel>(l.name);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), l.text);
    EXPECT_EQ(label->alignment(), l.align);
    if (l.background.isValid()) {
      EXPECT_EQ(PaintedAt(label, label->rect().center()), l.background);
    }
  }
  auto* list = w.Find<LogView>("List1");
  EXPECT_EQ(list->palette().color(QPalette::Text), QColor(0, 255, 0));
  EXPECT_EQ(PaintedAt(list, list->rect().center()), QColor(64, 64, 64));
}

TEST(Looks, FramesDrawTheirCaptionInTheTopBorder) {
  SimWindow w;
  for (const char* name : {"Frame1", "Frame2", "Frame3"}) {
    auto* box = w.Find<QGroupBox>(name);
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.textAlignment = box->alignment();
    option.lineWidth = 1;
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    const QRect frame =
        box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, box);
    const QRect label =
        box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
    EXPECT_GT(frame.top(), label.top()) << name;
    EXPECT_LT(frame.top(), label.bottom()) << name;
  }
}

TEST(Window, CaptionIconFixedSizeAndCentredFirstShow) {
  SimWindow w;
  EXPECT_EQ(w.view->windowTitle(), QStringLiteral("Pasotune 1.0"));
  const QList<QSize> sizes = w.view->windowIcon().availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(128, 128)));
  EXPECT_TRUE(w.view->windowIcon().pixmap(128).hasAlphaChannel());
  EXPECT_FALSE(w.view->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(w.view->minimumSize(), w.view->maximumSize());

  w.view->ShowCentred();
  const QRect outer = w.view->frameGeometry();
  const double dx = w.view->logicalDpiX(), dy = w.view->logicalDpiY();
  EXPECT_NEAR(outer.width(), 6675 * dx / 1440, 1);
  EXPECT_NEAR(outer.height(), 4290 * dy / 1440, 1);
  const QPoint middle = w.view->screen()->availableGeometry().center();
  EXPECT_NEAR(outer.center().x(), middle.x(), 1);
  EXPECT_NEAR(outer.center().y(), middle.y(), 1);
  // The user never sees the two controls that lie beyond the edges.
  for (const char* hidden : {"Command2", "txtDDE"}) {
    EXPECT_FALSE(w.view->rect().intersects(w.Find<QWidget>(hidden)->geometry())) << hidden;
  }
}

TEST(StartingState, AfterTheLoadWithDefaultSettings) {
  SimWindow w;
  auto* command1 = w.Find<QToolButton>("Command1");
  EXPECT_EQ(command1->text(), QStringLiteral("Conectar"));
  EXPECT_FALSE(command1->isEnabled());
  EXPECT_EQ(command1->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
  EXPECT_EQ(command1->icon().pixmap(32).toImage().size(), QSize(16, 16));  // the built-in picture

  auto* hport = w.Find<QComboBox>("HPORT");
  EXPECT_TRUE(hport->isEnabled());
  ASSERT_EQ(hport->count(), 20);
  EXPECT_EQ(hport->itemText(0), QStringLiteral("COM1"));
  EXPECT_EQ(hport->itemText(19), QStringLiteral("COM20"));
  EXPECT_EQ(hport->currentText(), QStringLiteral("COM1"));

  auto* comboST = w.Find<QComboBox>("ComboST");
  EXPECT_TRUE(comboST->isEnabled());
  EXPECT_EQ(comboST->count(), static_cast<int>(w.app.form.ComboST.Items().size()));
  EXPECT_EQ(comboST->currentText(), QStringLiteral("88.5"));
  EXPECT_EQ(w.Find<QPushButton>("Command3")->text(), QStringLiteral("CTCSS 88.5"));
  EXPECT_FALSE(w.Find<QPushButton>("Command3")->isEnabled());
  EXPECT_EQ(w.Find<QPushButton>("Command4")->text(), QStringLiteral("CTCSS OFF "));
  EXPECT_FALSE(w.Find<QPushButton>("Command4")->isEnabled());
  EXPECT_EQ(w.Find<QPushButton>("Command2")->text(), QStringLiteral("Orbitron"));

  for (const char* label : {"LabelSat", "LabelTX", "LabelModoTX", "LabelRX", "LabelModoRX"}) {
    EXPECT_TRUE(w.Find<QLabel>(label)->text().isEmpty()) << label;
  }
  EXPECT_EQ(w.Find<QLabel>("Label1")->text(), QStringLiteral("Satélite:"));
  EXPECT_EQ(w.Find<LogView>("List1")->RowCount(), 0);
  auto* shape = w.Find<QWidget>("Shape1");
  EXPECT_EQ(PaintedAt(shape, shape->rect().center()), QColor(64, 0, 0));

  for (const auto& [name, title] : {std::pair{"Frame1", "TS-790"}, std::pair{"Frame3", "CTCSS"},
                                    std::pair{"Frame2", "Orbitron"}}) {
    EXPECT_EQ(w.Find<QGroupBox>(name)->title(), QString::fromLatin1(title));
  }
}

struct FocusCase {
  std::vector<Button*> disabled;
  std::vector<QString> order;  // from List1, pressing Tab
};

TEST(TabOrder, FollowsTheTabPositionsSkippingFramesLabelsAndDisabled) {
  SimWindow w;
  w.view->ShowCentred();
  QApplication::setActiveWindow(w.view.get());
  Form1& f = w.app.form;
  for (const FocusCase& c :
       {FocusCase{{}, {"List1", "HPORT", "Command1", "Command3", "ComboST", "Command4", "List1"}},
        FocusCase{{&f.Command1, &f.Command3},
                  {"List1", "HPORT", "ComboST", "Command4", "List1"}}}) {
    for (Button* b : {&f.Command1, &f.Command2, &f.Command3, &f.Command4}) b->SetEnabled(true);
    for (Button* b : c.disabled) b->SetEnabled(false);
    auto* list = w.Find<QWidget>("List1");
    list->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), list);
    std::vector<QString> order{list->objectName()};
    while (order.size() < c.order.size()) {
      QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
      QApplication::sendEvent(QApplication::focusWidget(), &tab);
      order.push_back(QApplication::focusWidget()->objectName());
    }
    EXPECT_EQ(order, c.order);
  }
}

// The two controls beyond the edges never hold the keyboard: not by Tab
// (above), a click, or a key press aimed at their caption.
TEST(TabOrder, TheHiddenControlsNeverTakeTheFocus) {
  SimWindow w;
  w.view->ShowCentred();
  QApplication::setActiveWindow(w.view.get());
  w.app.form.Command2.SetEnabled(true);
  auto* list = w.Find<QWidget>("List1");
  for (const char* hidden : {"Command2", "txtDDE"}) {
    list->setFocus(Qt::TabFocusReason);
    auto* widget = w.Find<QWidget>(hidden);
    EXPECT_EQ(widget->focusPolicy(), Qt::NoFocus) << hidden;
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2),
                        widget->mapToGlobal(QPointF(2, 2)), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
    QKeyEvent alt(QEvent::KeyPress, Qt::Key_O, Qt::AltModifier, QStringLiteral("o"));
    QApplication::sendEvent(list, &alt);
    EXPECT_EQ(QApplication::focusWidget(), list) << hidden;
  }
}

TEST(Binding, AClickOnConectarRunsTheConnectHandler) {
  SimWindow w;
  auto* command1 = w.Find<QToolButton>("Command1");
  const qint64 builtIn = command1->icon().cacheKey();
  w.loop.RunFor(2100);  // the start-up timer enables the button
  ASSERT_TRUE(command1->isEnabled());

  command1->click();  // the whole connect sequence runs in virtual time

  EXPECT_EQ(command1->text(), QStringLiteral("Desconectar"));
  EXPECT_FALSE(w.Find<QComboBox>("HPORT")->isEnabled());
  EXPECT_TRUE(w.Find<QPushButton>("Command3")->isEnabled());
  ASSERT_FALSE(w.processes.calls.empty());
  EXPECT_EQ(w.processes.calls.back().what, "start");
  // cancel.ico from the program folder, largest size first.
  EXPECT_NE(command1->icon().cacheKey(), builtIn);
  const QImage picture = command1->icon().pixmap(32).toImage();
  EXPECT_EQ(picture.size(), QSize(32, 32));
  EXPECT_GT(picture.pixelColor(5, 16).red(), 150);
  QCoreApplication::processEvents();
  EXPECT_GT(w.Find<LogView>("List1")->RowCount(), 0);
}

TEST(Binding, ChoosingAToneInTheBoxRenamesCommand3Once) {
  SimWindow w;
  int clicks = 0;
  auto handler = w.app.form.ComboST.click;
  w.app.form.ComboST.click = [&] {
    ++clicks;
    handler();
  };
  auto* box = w.Find<QComboBox>("ComboST");
  const int before = box->findText(QStringLiteral("123.0")) - 1;
  ASSERT_GE(before, 0);
  w.app.form.ComboST.Choose(before);  // from the model: shown without raising the event twice
  EXPECT_EQ(box->currentIndex(), before);
  EXPECT_EQ(clicks, 1);

  QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
  QApplication::sendEvent(box, &down);  // the user's choice

  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(w.app.form.ComboST.Text(), "123.0");
  EXPECT_EQ(w.app.form.Command3.Caption(), "CTCSS 123.0");
  EXPECT_EQ(w.Find<QPushButton>("Command3")->text(), QStringLiteral("CTCSS 123.0"));
}

TEST(Binding, DropDownsFollowTheModelsItemsChoiceAndEnabledState) {
  Form1 form;
  Form1View view(form);
  auto* box = view.findChild<QComboBox*>(QStringLiteral("HPORT"));
  for (const char* port : {"COM1", "COM2", "COM3"}) form.HPORT.AddItem(port);
  EXPECT_EQ(box->count(), 3);
  EXPECT_EQ(box->currentIndex(), -1);
  form.HPORT.SetText("COM2");
  EXPECT_EQ(box->currentText(), QStringLiteral("COM2"));
  form.HPORT.Clear();
  form.HPORT.AddItem("COM9");
  ASSERT_EQ(box->count(), 1);
  EXPECT_EQ(box->itemText(0), QStringLiteral("COM9"));
  EXPECT_EQ(box->currentIndex(), -1);
  form.HPORT.SetEnabled(false);
  EXPECT_FALSE(box->isEnabled());
}

TEST(Binding, TheLampPaintsTheModelsFillColour) {
  Form1 form;
  Form1View view(form);
  auto* shape = view.findChild<QWidget*>(QStringLiteral("Shape1"));
  struct Fill {
    std::int32_t model;
    QColor shown;
  };
  for (const Fill& f : {Fill{64, QColor(64, 0, 0)}, Fill{255, QColor(255, 0, 0)},
                        Fill{256 * 200, QColor(0, 200, 0)},
                        Fill{65536 * 128 + 1, QColor(1, 0, 128)}, Fill{64, QColor(64, 0, 0)}}) {
    form.Shape1.SetFillColor(f.model);
    EXPECT_EQ(PaintedAt(shape, shape->rect().center()), f.shown) << f.model;
  }
}

TEST(Binding, LabelsAndTheHiddenTextBoxShowTheModel) {
  Form1 form;
  Form1View view(form);
  form.LabelSat.SetCaption("AO-07 <b>");
  EXPECT_EQ(view.findChild<QLabel*>(QStringLiteral("LabelSat"))->text(),
            QStringLiteral("AO-07 <b>"));
  EXPECT_EQ(view.findChild<QLabel*>(QStringLiteral("LabelSat"))->textFormat(), Qt::PlainText);
  form.LabelModoRX.SetCaption("USB");
  EXPECT_EQ(view.findChild<QLabel*>(QStringLiteral("LabelModoRX"))->text(), QStringLiteral("USB"));

  int changes = 0;
  form.txtDDE.change = [&] { ++changes; };
  auto* edit = view.findChild<QLineEdit*>(QStringLiteral("txtDDE"));
  form.txtDDE.SetText("SNAO-07");
  EXPECT_EQ(edit->text(), QStringLiteral("SNAO-07"));
  EXPECT_EQ(changes, 1);
  QKeyEvent key(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("X"));
  QApplication::sendEvent(edit, &key);  // typing raises the change event too
  EXPECT_EQ(form.txtDDE.Text(), "SNAO-07X");
  EXPECT_EQ(changes, 2);
}

TEST(Binding, Command1sPictureFromBytesOrBuiltInKeepingTheLastOnBadData) {
  Form1 form;
  Form1View view(form);
  auto* button = view.findChild<QToolButton*>(QStringLiteral("Command1"));
  auto read = [](const char* file) {
    QFile f(kResources + "/" + file);
    f.open(QIODevice::ReadOnly);
    return f.readAll().toStdString();
  };
  struct Step {
    std::string bytes;
    QSize size;      // of the picture shown at 32 x 32
    bool redCentre;  // cancel.ico's disc
  };
  for (const Step& s :
       {Step{read("cancel.ico"), {32, 32}, true}, Step{"not a picture", {32, 32}, true},
        Step{read("up2.ico"), {32, 32}, false}, Step{"", {16, 16}, false}}) {
    form.Command1.SetPicture(s.bytes);
    const QImage shown = button->icon().pixmap(32).toImage();
    EXPECT_EQ(shown.size(), s.size) << s.bytes.size();
    EXPECT_EQ(shown.pixelColor(shown.width() / 5, shown.height() / 2).red() > 150, s.redCentre)
        << s.bytes.size();
  }
}

TEST(Binding, TheButtonsClickOnlyWhileTheModelEnablesThem) {
  Form1 form;
  Form1View view(form);
  int clicks = 0;
  form.Command4.click = [&] { ++clicks; };
  auto* button = view.findChild<QPushButton*>(QStringLiteral("Command4"));
  button->click();
  form.Command4.SetEnabled(false);
  button->click();
  form.Command4.SetCaption("otro");
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(button->isEnabled());
  EXPECT_EQ(button->text(), QStringLiteral("otro"));
}

TEST(Binding, TheCloseRequestAsksTheModel) {
  for (const bool refuse : {true, false}) {
    Form1 form;
    int asked = 0;
    form.queryUnload = [&] {
      ++asked;
      return refuse;
    };
    Form1View view(form);
    view.ShowCentred();
    EXPECT_EQ(view.close(), !refuse);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(view.isVisible(), refuse);
  }
}

// Two ways a close is asked for: the program's own request (a signal), and
// the window system's (the close box) as it reaches the window.
struct CloseWay {
  const char* name;
  bool (*request)(Form1View&);
};
const CloseWay kCloseWays[] = {
    {"RequestClose", [](Form1View& v) { return v.RequestClose(); }},
    {"window system",
     [](Form1View& v) {
       QCloseEvent event;
       QCoreApplication::sendEvent(v.windowHandle(), &event);
       return event.isAccepted();
     }},
};

// The close sequence handles events in its pauses, so a second request can
// come while the first runs: it is refused, and the window stays on screen.
TEST(Binding, ASecondCloseDuringTheFirstLeavesTheWindowOnScreen) {
  for (const CloseWay& first : kCloseWays) {
    for (const CloseWay& second : kCloseWays) {
      SCOPED_TRACE(std::string(first.name) + " then " + second.name);
      Form1 form;
      Form1View view(form);
      int asked = 0;
      bool secondGranted = true, onScreenDuring = false;
      form.queryUnload = [&] {
        if (++asked > 1) return true;
        secondGranted = second.request(view);
        QCoreApplication::processEvents();
        onScreenDuring = view.isVisible() && view.windowHandle()->handle() != nullptr &&
                         view.windowHandle()->isVisible();
        return true;  // the first is refused too, as after No
      };
      view.ShowCentred();
      EXPECT_FALSE(first.request(view));
      EXPECT_FALSE(secondGranted);
      EXPECT_TRUE(onScreenDuring);
      EXPECT_EQ(asked, 1);
      QCoreApplication::processEvents();
      EXPECT_TRUE(view.isVisible());
      // Once the first is over, the next request is asked again.
      EXPECT_FALSE(second.request(view));
      EXPECT_EQ(asked, 2);
    }
  }
}

TEST(Binding, TheViewLetsGoOfTheModelWhenDestroyed) {
  Form1 form;
  { Form1View view(form); }
  form.Command1.SetCaption("Desconectar");
  form.List1.AddItem("line");
  form.List1.SetListIndex(0);
  form.width = 1;
  Notify(form.sizeChanged);
  EXPECT_FALSE(form.Command1.changed);
  EXPECT_FALSE(form.List1.itemAdded);
}

}  // namespace
}  // namespace pasotune::test
