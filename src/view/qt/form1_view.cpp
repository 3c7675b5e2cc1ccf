#include "view/qt/form1_view.hpp"

#include <QBuffer>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleFactory>
#include <QToolButton>
#include <QWindow>

#include <cmath>

#include "view/qt/log_view.hpp"
#include "view/qt/registro_view.hpp"
#include "view/qt/twips.hpp"

// Resources of a static library are registered by name, at global scope.
static void InitArtwork() {
  Q_INIT_RESOURCE(artwork);
}

namespace pasotune {

namespace {

constexpr double kSmall = 9.75;
constexpr double kLarge = 12;
// Consolas's characters are 1126 of its 2048 units to the em wide.
constexpr double kConsolasAdvance = 1126.0 / 2048.0;

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

QColor Rgb(std::int32_t colour) {
  return QColor(colour & 0xff, (colour >> 8) & 0xff, (colour >> 16) & 0xff);
}

void SetColours(QWidget* widget, QPalette::ColorRole background, QColor back,
                QPalette::ColorRole foreground, QColor fore) {
  QPalette palette = widget->palette();
  palette.setColor(background, back);
  palette.setColor(foreground, fore);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

}  // namespace

QString Form1View::MonospaceFamily() {
  static const QString family = [] {
    const QStringList installed = QFontDatabase::families();
    for (const QString& name : {QStringLiteral("Consolas"), QStringLiteral("Inconsolata")}) {
      if (installed.contains(name)) return name;
    }
    // The real family behind an alias such as "monospace".
    return QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).family();
  }();
  return family;
}

QFont Form1View::MonospaceFont(const QString& family, double points, bool bold) {
  QFont font(family);
  font.setStyleHint(QFont::Monospace);
  font.setBold(bold);
  // Measured large, where hinting does not skew the width.
  constexpr int kProbe = 1000;
  font.setPixelSize(kProbe);
  const double advance = QFontMetricsF(font).horizontalAdvance(QLatin1Char('W')) / kProbe;
  if (advance > kConsolasAdvance) {
    font.setStretch(static_cast<int>(std::floor(100 * kConsolasAdvance / advance)));
  }
  font.setPointSizeF(points);
  return font;
}

// Names a control, gives it its font and puts it where the window table says.
void Form1View::Lay(QWidget* widget, const char* name, double points, bool bold, int left, int top,
                    int width, int height) const {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setFont(MonospaceFont(family_, points, bold));
  Place(widget, left, top, width, height);
}

Form1View::Form1View(Form1& form, QWidget* parent, const QString& family)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      form_(form),
      family_(family.isEmpty() ? MonospaceFamily() : family) {
  InitArtwork();
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(Q(form_.caption));
  setWindowIcon(QIcon(QStringLiteral(":/pasotune/pasotune.png")));

  auto* frame1 = new QGroupBox(QStringLiteral("TS-790"), this);
  Lay(frame1, "Frame1", kSmall, true, 120, 120, 1815, 1815);

  auto* hport = new QComboBox(frame1);
  Lay(hport, "HPORT", kSmall, true, 120, 360, 1095, 345);
  Bind(form_.HPORT, hport);

  shape1_ = new QFrame(frame1);
  shape1_->setObjectName(QStringLiteral("Shape1"));
  shape1_->setFrameStyle(QFrame::Box | QFrame::Plain);
  Place(shape1_, 1375, 400, 255, 255);
  form_.Shape1.changed = [this] { ShowLamp(); };
  ShowLamp();

  command1_ = new QToolButton(frame1);
  Lay(command1_, "Command1", kSmall, true, 120, 840, 1575, 855);
  command1_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  command1_->setIconSize(QSize(32, 32));
  command1_->setIcon(QIcon(QStringLiteral(":/pasotune/up16.png")));
  Bind(form_.Command1, command1_);

  auto* frame3 = new QGroupBox(QStringLiteral("CTCSS"), this);
  Lay(frame3, "Frame3", kSmall, true, 120, 1920, 1815, 1815);

  auto* comboST = new QComboBox(frame3);
  Lay(comboST, "ComboST", kSmall, true, 360, 360, 1095, 345);
  Bind(form_.ComboST, comboST);

  auto* command3 = new QPushButton(frame3);
  Lay(command3, "Command3", kSmall, false, 120, 840, 1575, 375);
  Bind(form_.Command3, command3);

  auto* command4 = new QPushButton(frame3);
  Lay(command4, "Command4", kSmall, false, 120, 1320, 1575, 375);
  Bind(form_.Command4, command4);

  list1_ = new LogView(form_.List1, this);
  Lay(list1_, "List1", kSmall, false, 2040, 240, 4455, 1635);
  SetColours(list1_, QPalette::Base, QColor(64, 64, 64), QPalette::Text, QColor(0, 255, 0));
  // A burst of lines costs one repaint of the log, not one per line: the
  // log catches up once the current handler yields to the event loop.
  form_.List1.itemAdded = [this] { ShowSelectionSoon(); };
  form_.List1.selectionChanged = [this] { ShowSelectionSoon(); };
  list1_->openLog = [this] { OpenRegistro(); };

  auto* frame2 = new QGroupBox(QStringLiteral("Orbitron"), this);
  Lay(frame2, "Frame2", kLarge, false, 2040, 1920, 4455, 1815);

  struct Caption {
    const char* name;
    const char* text;
    int left, top, width, height;
  };
  for (const Caption& c : {Caption{"Label1", "Satélite:", 120, 360, 1215, 375},
                           Caption{"Label2", "Subida:", 360, 840, 975, 375},
                           Caption{"Label3", "Bajada:", 120, 1200, 1215, 375}}) {
    auto* label = new QLabel(QString::fromUtf8(c.text), frame2);
    label->setObjectName(QString::fromLatin1(c.name));
    label->setFont(MonospaceFont(family_, kLarge, false));
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    Place(label, c.left, c.top, c.width, c.height);
  }
  const QColor green(0, 128, 0), blue(0, 0, 128), red(255, 0, 0);
  const Qt::Alignment left = Qt::AlignLeft | Qt::AlignTop, centre = Qt::AlignHCenter | Qt::AlignTop;
  struct Value {
    Label& model;
    const char* name;
    QColor text;
    Qt::Alignment align;
    bool bold;
    int left, top, width, height;
  };
  for (const Value& v :
       {Value{form_.LabelSat, "LabelSat", green, left, true, 1440, 360, 2775, 255},
        Value{form_.LabelTX, "LabelTX", blue, left, false, 1440, 840, 1935, 255},
        Value{form_.LabelModoTX, "LabelModoTX", red, centre, false, 3360, 840, 975, 255},
        Value{form_.LabelRX, "LabelRX", blue, left, false, 1440, 1200, 1935, 255},
        Value{form_.LabelModoRX, "LabelModoRX", red, centre, false, 3360, 1200, 975, 255}}) {
    QLabel* label = ValueLabel(frame2, v.name, v.text, v.align, kLarge, v.bold);
    Place(label, v.left, v.top, v.width, v.height);
    Bind(v.model, label);
  }

  // These two lie beyond the window's edges, as in the original layout.
  // Unseen, they must never take the keyboard: Enter there would relink the
  // tracker, and typing there would feed records to the radio.
  auto* command2 = new QPushButton(this);
  Lay(command2, "Command2", kLarge, false, 6720, 600, 1815, 735);
  command2->setFocusPolicy(Qt::NoFocus);
  Bind(form_.Command2, command2);

  txtDDE_ = new QLineEdit(this);
  txtDDE_->setObjectName(QStringLiteral("txtDDE"));
  txtDDE_->setFocusPolicy(Qt::NoFocus);
  Place(txtDDE_, 240, 4800, 10335, 495);
  form_.txtDDE.changed = [this] {
    const QString text = Q(form_.txtDDE.Text());
    if (txtDDE_->text() != text) txtDDE_->setText(text);
  };
  form_.txtDDE.changed();
  connect(txtDDE_, &QLineEdit::textEdited, this,
          [this](const QString& text) { form_.txtDDE.SetText(text.toStdString()); });

  QWidget::setTabOrder(list1_, hport);
  QWidget::setTabOrder(hport, command1_);
  QWidget::setTabOrder(command1_, command3);
  QWidget::setTabOrder(command3, comboST);
  QWidget::setTabOrder(comboST, command4);

  // The classic style draws a frame's caption in its top border; made last
  // so that it outlives the frames.
  if (QStyle* classic = QStyleFactory::create(QStringLiteral("Windows"))) {
    classic->setParent(this);
    for (QGroupBox* frame : {frame1, frame2, frame3}) frame->setStyle(classic);
  }

  form_.sizeChanged = [this] { ApplySize(); };
  ApplySize();
}

Form1View::~Form1View() {
  // The model may outlive the window.
  for (Button* b : {&form_.Command1, &form_.Command2, &form_.Command3, &form_.Command4}) {
    b->changed = nullptr;
  }
  form_.HPORT.changed = nullptr;
  form_.ComboST.changed = nullptr;
  for (Label* l :
       {&form_.LabelSat, &form_.LabelTX, &form_.LabelModoTX, &form_.LabelRX, &form_.LabelModoRX}) {
    l->changed = nullptr;
  }
  form_.Shape1.changed = nullptr;
  form_.List1.itemAdded = nullptr;
  form_.List1.selectionChanged = nullptr;
  form_.txtDDE.changed = nullptr;
  form_.sizeChanged = nullptr;
}

int Form1View::X(int twips) const {
  return TwipsToPixels(twips, logicalDpiX());
}
int Form1View::Y(int twips) const {
  return TwipsToPixels(twips, logicalDpiY());
}

void Form1View::Place(QWidget* widget, int left, int top, int width, int height) const {
  widget->setGeometry(X(left), Y(top), X(width), Y(height));
}

QLabel* Form1View::ValueLabel(QWidget* parent, const char* name, QColor text, Qt::Alignment align,
                              double points, bool bold) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFont(MonospaceFont(family_, points, bold));
  label->setAlignment(align);
  label->setTextFormat(Qt::PlainText);  // the tracker's text is never markup
  SetColours(label, QPalette::Window, QColor(224, 224, 224), QPalette::WindowText, text);
  return label;
}

void Form1View::Bind(Button& model, QAbstractButton* button) {
  const bool withPicture = button == command1_;
  model.changed = [this, &model, button, withPicture] {
    button->setText(Q(model.Caption()));
    button->setEnabled(model.Enabled());
    if (withPicture) ShowPicture();
  };
  model.changed();
  connect(button, &QAbstractButton::clicked, this, [&model] { model.Click(); });
}

void Form1View::Bind(DropDown& model, QComboBox* box) {
  model.changed = [&model, box] {
    const QSignalBlocker quiet(box);
    const std::vector<std::string>& items = model.Items();
    const int count = static_cast<int>(items.size());
    bool prefix = box->count() <= count;
    for (int i = 0; prefix && i < box->count(); ++i) prefix = box->itemText(i) == Q(items[i]);
    if (!prefix) box->clear();
    for (int i = box->count(); i < count; ++i) box->addItem(Q(items[i]));
    box->setCurrentIndex(model.ListIndex());
    box->setEnabled(model.Enabled());
  };
  model.changed();
  // activated comes from the user only, so showing the model's choice
  // never raises the model's event again.
  connect(box, &QComboBox::activated, this, [&model](int index) { model.Choose(index); });
}

void Form1View::Bind(Label& model, QLabel* label) {
  model.changed = [&model, label] { label->setText(Q(model.Caption())); };
  model.changed();
}

void Form1View::ShowPicture() {
  const std::string& bytes = form_.Command1.Picture();
  if (bytes.empty()) {
    command1_->setIcon(QIcon(QStringLiteral(":/pasotune/up16.png")));
    return;
  }
  QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  QIcon icon;
  // Every size in the file, so the icon can pick the one that fits.
  for (QImage image = reader.read(); !image.isNull(); image = reader.read()) {
    icon.addPixmap(QPixmap::fromImage(image));
    if (!reader.jumpToNextImage()) break;
  }
  if (!icon.isNull()) command1_->setIcon(icon);  // an unreadable picture keeps the last one
}

void Form1View::ShowLamp() {
  SetColours(shape1_, QPalette::Window, Rgb(form_.Shape1.FillColor()), QPalette::WindowText,
             Qt::black);
}

void Form1View::ShowSelectionSoon() {
  if (selectionPending_) return;
  selectionPending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        selectionPending_ = false;
        list1_->CatchUp();
        if (registro_) registro_->CatchUp();
      },
      Qt::QueuedConnection);
}

RegistroView* Form1View::Registro() const {
  return registro_;
}

void Form1View::OpenRegistro() {
  if (!registro_) {
    registro_ = new RegistroView(form_.List1, MonospaceFont(family_, kSmall, false), this);
    registro_->setWindowIcon(windowIcon());
  }
  registro_->show();
  registro_->setWindowState(registro_->windowState() & ~Qt::WindowMinimized);
  registro_->raise();
  registro_->activateWindow();
}

void Form1View::ApplySize() {
  if (form_.width <= 0 || form_.height <= 0) return;
  // The model gives the outer size. The client gets what the frame leaves;
  // the frame is known only once the window is shown and decorated, and is
  // nil without decorations (offscreen).
  margins_ = frameGeometry().size() - geometry().size();
  setFixedSize(QSize(X(form_.width), Y(form_.height)) - margins_);
}

bool Form1View::event(QEvent* event) {
  // Close requests from the window system reach the window's handle first.
  if (event->type() == QEvent::Show && windowHandle() != nullptr) {
    windowHandle()->installEventFilter(this);
  }
  const bool handled = QWidget::event(event);
  if ((event->type() == QEvent::Show || event->type() == QEvent::Move) &&
      frameGeometry().size() - geometry().size() != margins_) {
    ApplySize();
  }
  return handled;
}

void Form1View::ShowCentred() {
  QScreen* where = screen();
  if (where == nullptr) where = QGuiApplication::primaryScreen();
  QSize outer = frameGeometry().size();
  if (form_.width > 0 && form_.height > 0) outer = QSize(X(form_.width), Y(form_.height));
  if (where != nullptr) {
    const QRect area = where->availableGeometry();
    move(area.center() - QPoint(outer.width() / 2, outer.height() / 2));
  }
  show();
}

void Form1View::closeEvent(QCloseEvent* event) {
  closing_ = true;
  const bool granted = form_.RequestClose();
  closing_ = false;
  event->setAccepted(granted);
}

// The model's close sequence handles events in its pauses, so a second
// request can come while the first is being handled. Qt takes that one as
// granted and would take the window off screen; it is refused here, as the
// model refuses it, and the window stays.
bool Form1View::eventFilter(QObject* watched, QEvent* event) {
  if (closing_ && event->type() == QEvent::Close && watched == windowHandle()) {
    event->ignore();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

bool Form1View::RequestClose() {
  return !closing_ && close();
}

}  // namespace pasotune
