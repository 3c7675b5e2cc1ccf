// The pictures shipped beside the program and built into it.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <vector>

#include "sim_window.hpp"

namespace pasotune::test {
namespace {

std::vector<QImage> ReadAll(const QString& path) {
  QImageReader reader(path);
  std::vector<QImage> images;
  for (QImage image = reader.read(); !image.isNull(); image = reader.read()) {
    images.push_back(image);
    if (!reader.jumpToNextImage()) break;
  }
  return images;
}

struct Picture {
  QString path;
  std::vector<int> sizes;
  bool red;  // otherwise green
};

TEST(Artwork, DiscsWithTransparentCornersAtEverySize) {
  const QString program = QStringLiteral(PASOTUNE_TEST_PROGRAM_DIR);
  for (const Picture& p : {Picture{kResources + "/cancel.ico", {32, 16}, true},
                           Picture{kResources + "/up2.ico", {32, 16}, false},
                           Picture{program + "/cancel.ico", {32, 16}, true},
                           Picture{program + "/up2.ico", {32, 16}, false},
                           Picture{QStringLiteral(":/pasotune/up16.png"), {16}, false}}) {
    SCOPED_TRACE(p.path.toStdString());
    const std::vector<QImage> images = ReadAll(p.path);
    ASSERT_EQ(images.size(), p.sizes.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
      const QImage& image = images[i];
      const int n = p.sizes[i];
      EXPECT_EQ(image.size(), QSize(n, n));
      EXPECT_TRUE(image.hasAlphaChannel());
      EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
      EXPECT_EQ(image.pixelColor(n - 1, n - 1).alpha(), 0);
      // The disc's colour just inside its rim, left of the middle.
      const QColor disc = image.pixelColor(n / 5, n / 2);
      EXPECT_EQ(disc.alpha(), 255);
      EXPECT_GT(p.red ? disc.red() : disc.green(), 150);
      EXPECT_LT(p.red ? disc.green() : disc.red(), 60);
      // White in the centre: the cross or the arrow's shaft.
      EXPECT_EQ(image.pixelColor(n / 2, n / 2 + (p.red ? 0 : n / 4)), QColor(Qt::white));
    }
  }
}

TEST(Artwork, TheWindowIconIsA128PixelPictureWithTransparency) {
  SimWindow w;  // registers the built-in resources
  const QImage icon(QStringLiteral(":/pasotune/pasotune.png"));
  EXPECT_EQ(icon.size(), QSize(128, 128));
  EXPECT_EQ(icon.depth(), 32);
  EXPECT_EQ(icon.pixelColor(0, 0).alpha(), 0);
  EXPECT_EQ(icon.pixelColor(64, 64).alpha(), 255);
}

}  // namespace
}  // namespace pasotune::test
