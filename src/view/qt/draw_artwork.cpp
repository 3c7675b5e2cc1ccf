// Draws the program's pictures: the window icon, Command1's built-in picture
// and the two .ico files that ship beside the program. Run it by hand (target
// pasotune-artwork) when the artwork changes; its output is kept in resources/.
#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>
#include <QTransform>
#include <cstdio>
#include <vector>

namespace {

QImage Canvas(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

// A disc with a darker rim, drawn in a 32-unit square scaled to the size.
void Disc(QPainter& p, QColor fill, QColor rim) {
  p.setPen(QPen(rim, 1.5));
  p.setBrush(fill);
  p.drawEllipse(QRectF(1.5, 1.5, 29, 29));
}

QImage UpArrow(int size) {
  QImage image = Canvas(size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  Disc(p, QColor(0, 160, 0), QColor(0, 90, 0));
  const QPolygonF arrow({{16, 5}, {26, 16}, {20, 16}, {20, 27}, {12, 27}, {12, 16}, {6, 16}});
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawPolygon(arrow);
  return image;
}

QImage Cancel(int size) {
  QImage image = Canvas(size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  Disc(p, QColor(210, 0, 0), QColor(120, 0, 0));
  p.setPen(QPen(Qt::white, 4.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(10, 10), QPointF(22, 22));
  p.drawLine(QPointF(22, 10), QPointF(10, 22));
  return image;
}

// A satellite seen at an angle: body, two ruled solar wings, a dish and its
// signal, in a 128-unit square.
QImage Satellite(int size) {
  QImage image = Canvas(size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 128.0, size / 128.0);

  const QPointF centre(56, 54);
  const double tilt = -35;
  p.save();
  p.translate(centre);
  p.rotate(tilt);
  const QColor wing(30, 70, 160);
  const QColor frame(15, 30, 70);
  for (int side : {-1, 1}) {
    const QRectF panel = side < 0 ? QRectF(-58, -13, 40, 26) : QRectF(18, -13, 40, 26);
    p.setPen(QPen(frame, 2));
    p.drawLine(QPointF(side * 12, 0), QPointF(side * 18, 0));
    p.setBrush(wing);
    p.drawRect(panel);
    p.setPen(QPen(QColor(140, 180, 240), 1.2));
    for (int i = 1; i < 4; ++i) {
      const double x = panel.left() + panel.width() * i / 4;
      p.drawLine(QPointF(x, panel.top() + 1), QPointF(x, panel.bottom() - 1));
    }
    p.drawLine(QPointF(panel.left() + 1, 0), QPointF(panel.right() - 1, 0));
  }
  p.setPen(QPen(frame, 2));
  p.setBrush(QColor(215, 175, 60));
  p.drawRoundedRect(QRectF(-12, -16, 24, 32), 3, 3);
  p.setPen(QPen(QColor(150, 110, 20), 1.5));
  p.drawLine(QPointF(-12, -5), QPointF(12, -5));
  p.drawLine(QPointF(-12, 5), QPointF(12, 5));
  // Dish on a short mast, facing down-left towards the ground.
  p.setPen(QPen(frame, 2));
  p.drawLine(QPointF(0, 16), QPointF(0, 24));
  QPainterPath dish;
  dish.moveTo(-13, 24);
  dish.quadTo(0, 40, 13, 24);
  dish.closeSubpath();
  p.setBrush(QColor(230, 230, 235));
  p.drawPath(dish);
  p.restore();

  // Radio waves leaving the dish, towards the bottom right.
  const QPointF dishCentre = centre + QTransform().rotate(tilt).map(QPointF(0, 34));
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(220, 30, 30), 4, Qt::SolidLine, Qt::RoundCap));
  for (int r : {14, 26}) {
    const QRectF ring(dishCentre.x() - r, dishCentre.y() - r, 2 * r, 2 * r);
    p.drawArc(ring, (-55 - 35) * 16, 70 * 16);
  }
  return image;
}

void Put16(QByteArray& out, int v) {
  out.append(static_cast<char>(v & 0xff));
  out.append(static_cast<char>((v >> 8) & 0xff));
}

void Put32(QByteArray& out, int v) {
  Put16(out, v & 0xffff);
  Put16(out, (v >> 16) & 0xffff);
}

// An .ico with one 32-bit bitmap per image, with its AND mask, the form
// every reader understands.
QByteArray Ico(const std::vector<QImage>& images) {
  QByteArray head, body;
  Put16(head, 0);
  Put16(head, 1);
  Put16(head, static_cast<int>(images.size()));
  int offset = 6 + 16 * static_cast<int>(images.size());
  for (const QImage& source : images) {
    const QImage img = source.convertToFormat(QImage::Format_ARGB32);
    const int w = img.width(), h = img.height();
    const int maskStride = ((w + 31) / 32) * 4;
    QByteArray bmp;
    Put32(bmp, 40);
    Put32(bmp, w);
    Put32(bmp, 2 * h);  // colour bitmap and mask, stacked
    Put16(bmp, 1);
    Put16(bmp, 32);
    Put32(bmp, 0);
    Put32(bmp, w * h * 4 + maskStride * h);
    for (int i = 0; i < 4; ++i) Put32(bmp, 0);
    for (int y = h - 1; y >= 0; --y) {
      for (int x = 0; x < w; ++x) Put32(bmp, static_cast<int>(img.pixel(x, y)));
    }
    for (int y = h - 1; y >= 0; --y) {
      QByteArray row(maskStride, '\0');
      for (int x = 0; x < w; ++x) {
        if (qAlpha(img.pixel(x, y)) < 128)
          row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
      }
      bmp.append(row);
    }
    head.append(static_cast<char>(w));
    head.append(static_cast<char>(h));
    head.append('\0');
    head.append('\0');
    Put16(head, 1);
    Put16(head, 32);
    Put32(head, static_cast<int>(bmp.size()));
    Put32(head, offset);
    offset += static_cast<int>(bmp.size());
    body.append(bmp);
  }
  return head + body;
}

bool Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

bool WritePng(const QString& path, const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
  return Write(path, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]) + "/";
  const bool ok = WritePng(dir + "pasotune.png", Satellite(128)) &&
                  WritePng(dir + "up16.png", UpArrow(16)) &&
                  Write(dir + "up2.ico", Ico({UpArrow(32), UpArrow(16)})) &&
                  Write(dir + "cancel.ico", Ico({Cancel(32), Cancel(16)}));
  return ok ? 0 : 1;
}
