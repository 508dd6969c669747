#include <QDir>
#include <QFontInfo>
#include <QTransform>
#include <QtTest>
#include <cmath>

#include "texteffects/uFont.h"
#include "util/Random.h"

// The renderer: extents, positions of text and shadow, opacities, fills, and a rendered
// watermark checked for its measurable properties.
class TestFont : public QObject {
  Q_OBJECT

 private slots:
  void ArialIsAvailable();
  void PointsToPixels();
  void Gradient_data();
  void Gradient();
  void NoiseStaysInRange();
  void TextureModes();
  void FillOrder();
  void ShadowAndText_data();
  void ShadowAndText();
  void TextBlurLeavesShadowSharp();
  void SurfaceStateIsKept();
  void EmptyTextDrawsNothing();
  void LargePictureIsWorkedInPlace();
  void AbsurdFontRaises_data();
  void AbsurdFontRaises();
  void Turned90ReadsUpward();
  void WatermarkPicture();
};

namespace {

QImage Filled(int width, int height, QColor colour) {
  QImage image(width, height, QImage::Format_BGR888);
  image.fill(colour);
  return image;
}

// A renderer with its own picture.
struct Scene {
  QImage Image;
  TextCanvas Canvas;
  TIAFontEx Font;
  Scene(int width, int height, QColor background)
      : Image(Filled(width, height, background)), Canvas(&Image), Font(&Canvas) {
    Canvas.Font.Name = QStringLiteral("Arial");
    Canvas.Font.Height = 30;
    Canvas.Font.Weight = kWeightBold;
    Canvas.Brush.Style = BrushStyle::Clear;
  }
};

// One channel blended the way the engine does: d + floor((c - d) * w / 256).
int Mix(int d, int c, int w) {
  if (w == 0) return d;
  if (w == 255) return c;
  return d + static_cast<int>(std::floor((c - d) * w / 256.0));
}
QColor Mix(QColor d, QColor c, int opacity, int coverage) {
  const int w = (coverage * (opacity * 256 / 100)) >> 8;
  return QColor(Mix(d.red(), c.red(), w), Mix(d.green(), c.green(), w), Mix(d.blue(), c.blue(), w));
}

// Bounding box of the pixels where a and b differ and pred(a, b) holds.
template <typename Pred>
QRect ChangedBox(const QImage& before, const QImage& after, Pred pred) {
  QRect box;
  for (int y = 0; y < before.height(); ++y)
    for (int x = 0; x < before.width(); ++x) {
      const QColor a = before.pixelColor(x, y);
      const QColor b = after.pixelColor(x, y);
      if (a != b && pred(a, b)) box |= QRect(x, y, 1, 1);
    }
  return box;
}

int Luma(QColor c) { return c.red() + c.green() + c.blue(); }

// The mask as an 8-bit image (for profiles).
QImage MaskImage(const TIAMask& mask) {
  QImage image(mask.Width(), mask.Height(), QImage::Format_Grayscale8);
  for (int y = 0; y < mask.Height(); ++y)
    std::copy_n(mask.Lines(y), mask.Width(), image.scanLine(y));
  return image;
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const std::size_t n = std::min(a.size(), b.size());
  double ma = 0, mb = 0;
  for (std::size_t i = 0; i < n; ++i) {
    ma += a[i];
    mb += b[i];
  }
  ma /= n;
  mb /= n;
  double sab = 0, saa = 0, sbb = 0;
  for (std::size_t i = 0; i < n; ++i) {
    sab += (a[i] - ma) * (b[i] - mb);
    saa += (a[i] - ma) * (a[i] - ma);
    sbb += (b[i] - mb) * (b[i] - mb);
  }
  return sab / std::sqrt(saa * sbb);
}

}  // namespace

void TestFont::ArialIsAvailable() {
  // "Arial" must give a real face with Arial's metrics (Liberation Sans where Arial is absent),
  // not a fallback of another shape.
  CanvasFont font;
  font.Height = 37;
  const QFontInfo info(MakeQFont(font));
  QVERIFY2(
      info.family() == QLatin1String("Arial") || info.family() == QLatin1String("Liberation Sans"),
      qPrintable(info.family()));
  QCOMPARE(info.pixelSize(), 37);
}

void TestFont::PointsToPixels() {
  CanvasFont font;
  font.SetSize(28);
  QCOMPARE(font.Height, 37);
  QCOMPARE(font.Size(), 28);
  font.SetSize(8);
  QCOMPARE(font.Height, 11);
}

void TestFont::Gradient_data() {
  QTest::addColumn<int>("style");
  QTest::addColumn<int>("width");
  QTest::addColumn<int>("height");
  QTest::addColumn<TColor>("start");
  QTest::addColumn<TColor>("end");
  QTest::addColumn<QList<QRgb>>("ramp");
  const TColor white = RgbToColor(255, 255, 255);
  auto grey = [](std::initializer_list<int> values) {
    QList<QRgb> list;
    for (int v : values) list << qRgb(v, v, v);
    return list;
  };
  QTest::newRow("left to right, 5")
      << int(gsLeftToRight) << 5 << 2 << white << TColor(0) << grey({255, 204, 153, 102, 51});
  QTest::newRow("right to left, 5")
      << int(gsRightToLeft) << 5 << 2 << white << TColor(0) << grey({0, 51, 102, 153, 204});
  QTest::newRow("centre LR, 5") << int(gsCenterToLR) << 5 << 2 << white << TColor(0)
                                << grey({0, 85, 170, 85, 0});
  QTest::newRow("centre LR, 4") << int(gsCenterToLR) << 4 << 2 << white << TColor(0)
                                << grey({0, 127, 127, 0});
  QTest::newRow("centre LR, 1") << int(gsCenterToLR) << 1 << 2 << white << TColor(0) << grey({0});
  QTest::newRow("top to bottom, 5")
      << int(gsTopToBottom) << 3 << 5 << white << TColor(0) << grey({255, 204, 153, 102, 51});
  QTest::newRow("bottom to top, 5")
      << int(gsBottomToTop) << 3 << 5 << white << TColor(0) << grey({0, 51, 102, 153, 204});
  QTest::newRow("centre TB, 4") << int(gsCenterToTB) << 3 << 4 << white << TColor(0)
                                << grey({0, 127, 127, 0});
  QTest::newRow("channels") << int(gsLeftToRight) << 4 << 1 << RgbToColor(200, 100, 0)
                            << RgbToColor(0, 100, 200)
                            << QList<QRgb>{qRgb(200, 100, 0), qRgb(150, 100, 50),
                                           qRgb(100, 100, 100), qRgb(50, 100, 150)};
}

void TestFont::Gradient() {
  QFETCH(int, style);
  QFETCH(int, width);
  QFETCH(int, height);
  QFETCH(TColor, start);
  QFETCH(TColor, end);
  QFETCH(QList<QRgb>, ramp);
  Scene scene(8, 8, Qt::black);
  TIAGradual& gradual = scene.Font.Effect().Gradual();
  gradual.SetStyle(static_cast<TGradualStyle>(style));
  gradual.SetStartColor(start);
  gradual.SetEndColor(end);
  scene.Font.Mask().Resize(width, height);
  scene.Font.GradientFill();
  const QImage& fore = scene.Font.Blend().Fore;
  QCOMPARE(fore.size(), QSize(width, height));
  QCOMPARE(fore.format(), QImage::Format_BGR888);
  const bool horizontal = style == gsLeftToRight || style == gsRightToLeft || style == gsCenterToLR;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) QCOMPARE(fore.pixel(x, y), ramp[horizontal ? x : y]);
}

void TestFont::NoiseStaysInRange() {
  Scene scene(4, 4, Qt::black);
  scene.Canvas.Font.Color = RgbToColor(100, 2, 250);
  scene.Font.Mask().Resize(40, 40);
  SetRandomSeed(99);
  scene.Font.NoiseFill(10);
  const QImage& fore = scene.Font.Blend().Fore;
  int lowest = 255, highest = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      const QColor c = fore.pixelColor(x, y);
      QVERIFY(c.red() >= 95 && c.red() <= 104);   // -5..+4
      QVERIFY(c.green() >= 0 && c.green() <= 6);  // clamped at 0
      QVERIFY(c.blue() >= 245 && c.blue() <= 254);
      lowest = std::min(lowest, c.red());
      highest = std::max(highest, c.red());
    }
  QCOMPARE(lowest, 95);
  QCOMPARE(highest, 104);

  // AddNoise clamps at 255 too.
  scene.Font.Blend().Fore.fill(Qt::white);
  scene.Font.AddNoise(200);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) QVERIFY(fore.pixelColor(x, y).red() >= 155);
}

void TestFont::TextureModes() {
  Scene scene(4, 4, Qt::black);
  scene.Canvas.Font.Color = RgbToColor(9, 9, 9);
  QImage tile(2, 2, QImage::Format_RGB32);
  tile.setPixel(0, 0, qRgb(255, 0, 0));
  tile.setPixel(1, 0, qRgb(0, 255, 0));
  tile.setPixel(0, 1, qRgb(0, 0, 255));
  tile.setPixel(1, 1, qRgb(255, 255, 255));
  TIATexture& texture = scene.Font.Effect().Texture();
  texture.Picture().SetGraphic(tile);
  scene.Font.Mask().Resize(5, 3);
  const QImage& fore = scene.Font.Blend().Fore;
  const QRgb font = qRgb(9, 9, 9);

  texture.SetMode(tmTiled);
  scene.Font.TextureFill();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) QCOMPARE(fore.pixel(x, y), tile.pixel(x % 2, y % 2));

  texture.SetMode(tmCenter);  // at ((5 - 2) div 2, (3 - 2) div 2) = (1, 0)
  scene.Font.TextureFill();
  QCOMPARE(fore.pixel(0, 0), font);
  QCOMPARE(fore.pixel(1, 0), tile.pixel(0, 0));
  QCOMPARE(fore.pixel(2, 1), tile.pixel(1, 1));
  QCOMPARE(fore.pixel(3, 0), font);
  QCOMPARE(fore.pixel(1, 2), font);

  texture.SetMode(tmNormal);
  scene.Font.TextureFill();
  QCOMPARE(fore.pixel(1, 1), tile.pixel(1, 1));
  QCOMPARE(fore.pixel(2, 0), font);

  QImage red(1, 1, QImage::Format_RGB32);
  red.fill(Qt::red);
  texture.Picture().SetGraphic(red);
  texture.SetMode(tmStretched);
  scene.Font.TextureFill();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) QCOMPARE(fore.pixel(x, y), qRgb(255, 0, 0));

  // A transparent icon is stretched over the window-text colour, not the font colour.
  QImage icon(2, 2, QImage::Format_ARGB32);
  icon.fill(Qt::transparent);
  texture.Picture().SetGraphic(icon, TIAPicture::Icon);
  scene.Font.TextureFill();
  const QRgb windowText = ColorToRgb(kSystemColorWindowText);
  QCOMPARE(fore.pixel(4, 2), windowText);
}

void TestFont::FillOrder() {
  Scene scene(200, 60, Qt::black);
  TIAEffect& effect = scene.Font.Effect();
  effect.Gradual().SetEnabled(true);
  effect.Gradual().SetStartColor(RgbToColor(0, 255, 0));
  effect.Gradual().SetEndColor(RgbToColor(0, 255, 0));
  effect.Texture().SetEnabled(true);  // enabled but empty: falls through to the gradient
  scene.Font.TextOut(0, 0, QStringLiteral("Fill"));
  QCOMPARE(scene.Font.Blend().Fore.pixel(0, 0), qRgb(0, 255, 0));

  QImage tile(1, 1, QImage::Format_RGB32);
  tile.fill(Qt::blue);
  effect.Texture().Picture().SetGraphic(tile);  // the texture now wins
  scene.Font.TextOut(0, 0, QStringLiteral("Fill"));
  QCOMPARE(scene.Font.Blend().Fore.pixel(3, 3), qRgb(0, 0, 255));

  effect.Texture().SetEnabled(false);
  effect.SetNoise(20);  // gradient plus noise
  SetRandomSeed(5);
  scene.Font.TextOut(0, 0, QStringLiteral("Fill"));
  const QColor noisy = scene.Font.Blend().Fore.pixelColor(5, 5);
  QVERIFY(noisy.green() >= 245 && noisy.red() <= 9);

  effect.Gradual().SetEnabled(false);  // noise over the font colour
  scene.Canvas.Font.Color = RgbToColor(128, 128, 128);
  scene.Font.TextOut(0, 0, QStringLiteral("Fill"));
  const QColor grey = scene.Font.Blend().Fore.pixelColor(5, 5);
  QVERIFY(std::abs(grey.red() - 128) <= 10 && std::abs(grey.green() - 128) <= 10);
}

// Quality 3 draws two levels, so every pixel is exactly background, shadow, text or text over
// shadow. Columns: opacities, shadow offsets, where text and shadow land relative to (x, y),
// and the shadow's opacity.
void TestFont::ShadowAndText_data() {
  QTest::addColumn<int>("alpha");
  QTest::addColumn<int>("shadowAlpha");
  QTest::addColumn<QPoint>("offset");
  QTest::addColumn<QPoint>("textAt");
  QTest::addColumn<QPoint>("shadowAt");
  QTest::addColumn<int>("shadowOpacity");
  QTest::newRow("80 x 50, (2, 2)")
      << 80 << 50 << QPoint(2, 2) << QPoint(0, 0) << QPoint(2, 2) << 40;
  QTest::newRow("75 x 50, (2, 2)")
      << 75 << 50 << QPoint(2, 2) << QPoint(0, 0) << QPoint(2, 2) << 37;
  QTest::newRow("100 x 100, (-3, 4)")
      << 100 << 100 << QPoint(-3, 4) << QPoint(3, 0) << QPoint(0, 4) << 100;
  QTest::newRow("60 x 70, (5, -6)")
      << 60 << 70 << QPoint(5, -6) << QPoint(0, 6) << QPoint(5, 0) << 42;
  QTest::newRow("0 x 50") << 0 << 50 << QPoint(2, 2) << QPoint(0, 0) << QPoint(2, 2) << 0;
}

void TestFont::ShadowAndText() {
  QFETCH(int, alpha);
  QFETCH(int, shadowAlpha);
  QFETCH(QPoint, offset);
  QFETCH(QPoint, textAt);
  QFETCH(QPoint, shadowAt);
  QFETCH(int, shadowOpacity);
  const QColor background(240, 230, 220);
  const QColor textColour(0, 0, 255);
  const QColor shadowColour(255, 0, 0);
  Scene scene(160, 70, background);
  scene.Font.SetQuality(3);
  scene.Canvas.Font.Color = RgbToColor(0, 0, 255);
  TIAEffect& effect = scene.Font.Effect();
  effect.SetAlpha(alpha);
  const QString text = QStringLiteral("Kg!");
  const QSize plain = scene.Font.TextExtent(text);
  TIAShadow& shadow = effect.Shadow();
  shadow.SetEnabled(true);
  shadow.SetBlur(0);
  shadow.SetAlpha(shadowAlpha);
  shadow.SetColor(RgbToColor(255, 0, 0));
  shadow.SetOffsetX(offset.x());
  shadow.SetOffsetY(offset.y());
  const QSize box = scene.Font.TextExtent(text);
  QCOMPARE(box, plain + QSize(std::abs(offset.x()), std::abs(offset.y())));

  const QPoint origin(20, 10);
  scene.Font.TextOut(origin.x(), origin.y(), text);
  const TIAMask& mask = scene.Font.Mask();
  QCOMPARE(QSize(mask.Width(), mask.Height()), plain);
  auto covered = [&](QPoint p) {
    return p.x() >= 0 && p.y() >= 0 && p.x() < mask.Width() && p.y() < mask.Height() &&
           mask.Lines(p.y())[p.x()] == 255;
  };
  int shadowOnly = 0, textOnly = 0;
  for (int y = 0; y < scene.Image.height(); ++y)
    for (int x = 0; x < scene.Image.width(); ++x) {
      const QPoint p(x, y);
      const bool inShadow = covered(p - origin - shadowAt);
      const bool inText = covered(p - origin - textAt);
      QColor expected = background;
      if (inShadow) expected = Mix(expected, shadowColour, shadowOpacity, 255);
      if (inText) expected = Mix(expected, textColour, alpha, 255);
      shadowOnly += inShadow && !inText;
      textOnly += inText && !inShadow;
      if (scene.Image.pixelColor(x, y) != expected)
        QFAIL(qPrintable(QStringLiteral("pixel (%1, %2)").arg(x).arg(y)));
      if (inShadow || inText) QVERIFY(QRect(origin, box).contains(p));
    }
  QVERIFY(shadowOnly > 10 && textOnly > 10);
}

void TestFont::TextBlurLeavesShadowSharp() {
  Scene scene(160, 70, Qt::white);
  scene.Font.SetQuality(3);
  TIAEffect& effect = scene.Font.Effect();
  effect.SetBlur(100);
  effect.Shadow().SetEnabled(true);
  effect.Shadow().SetBlur(0);
  effect.Shadow().SetAlpha(100);
  effect.Shadow().SetColor(RgbToColor(255, 0, 0));
  effect.Shadow().SetOffsetX(20);  // far enough for the shadow's right part to stand alone
  effect.Shadow().SetOffsetY(0);
  scene.Canvas.Font.Color = RgbToColor(0, 0, 255);
  scene.Font.TextOut(0, 0, QStringLiteral("I"));
  // Red pixels are pure shadow: exactly red or untouched, no blurred edge.
  int red = 0;
  for (int y = 0; y < 70; ++y)
    for (int x = 0; x < 160; ++x) {
      const QColor c = scene.Image.pixelColor(x, y);
      if (c.blue() == 0) {
        QCOMPARE(c, QColor(255, 0, 0));
        ++red;
      }
    }
  QVERIFY(red > 20);
  // The text's mask is blurred: it has intermediate values.
  const TIAMask& mask = scene.Font.Mask();
  bool partial = false;
  for (int y = 0; y < mask.Height() && !partial; ++y)
    for (int x = 0; x < mask.Width(); ++x)
      partial |= mask.Lines(y)[x] > 0 && mask.Lines(y)[x] < 255;
  QVERIFY(partial);
}

void TestFont::SurfaceStateIsKept() {
  for (int angle : {0, 30}) {
    Scene scene(200, 200, Qt::gray);
    scene.Canvas.Brush.Style = BrushStyle::Solid;
    scene.Canvas.Font.Escapement = 50;
    const CanvasFont before = scene.Canvas.Font;
    scene.Font.Effect().SetAngle(angle);
    scene.Font.Effect().Shadow().SetEnabled(true);
    const QSize box = scene.Font.TextExtent(QStringLiteral("State"));
    QCOMPARE(scene.Canvas.Font, before);
    scene.Font.TextOut(10, 10, QStringLiteral("State"));
    QCOMPARE(scene.Canvas.Font, before);
    QCOMPARE(scene.Canvas.Brush.Style, BrushStyle::Solid);
    // The turned box follows Effect's angle, not the font's own escapement.
    if (angle == 30) QVERIFY(box.height() > 40);
  }
}

void TestFont::EmptyTextDrawsNothing() {
  Scene scene(100, 50, Qt::gray);
  scene.Font.TextOut(0, 0, QStringLiteral("A"));
  const std::vector<std::uint8_t> bits = scene.Font.Mask().Bits();
  const QImage after = scene.Image.copy();
  scene.Font.TextOut(0, 0, QString());
  QCOMPARE(scene.Font.Mask().Bits(), bits);
  QCOMPARE(scene.Image, after);
  TIAFontEx nowhere(nullptr);
  nowhere.TextOut(0, 0, QStringLiteral("A"));
  QCOMPARE(nowhere.TextWidth(QStringLiteral("A")), 0);
}

// Drawing on a 24-megapixel picture works on the text's box in place: the picture's pixels are
// not copied, and rows away from the text are untouched.
void TestFont::LargePictureIsWorkedInPlace() {
  QImage picture = Filled(6000, 4000, QColor(90, 120, 150));
  const uchar* pixels = picture.constBits();
  TextCanvas canvas(&picture);
  canvas.Font.SetSize(28);
  canvas.Brush.Style = BrushStyle::Clear;
  canvas.Font.Color = RgbToColor(255, 255, 255);
  TIAFontEx font(&canvas);
  font.SetQuality(0);
  font.Effect().Shadow().SetEnabled(true);
  const QString text = QStringLiteral("Your Watermarking");
  const QSize box = font.TextExtent(text);
  font.TextOut(6000 - box.width(), 4000 - box.height(), text);
  QCOMPARE(picture.constBits(), pixels);
  QCOMPARE(picture.pixelColor(5999 - box.width() / 2, 3999 - box.height() - 1),
           QColor(90, 120, 150));
  bool drawn = false;
  for (int x = 6000 - box.width(); x < 6000 && !drawn; ++x)
    for (int y = 4000 - box.height(); y < 4000; ++y)
      drawn |= picture.pixelColor(x, y) != QColor(90, 120, 150);
  QVERIFY(drawn);
}

void TestFont::AbsurdFontRaises_data() {
  QTest::addColumn<int>("height");
  QTest::addColumn<int>("angle");
  QTest::newRow("5000 px at 4 x 4") << 5000 << 0;
  QTest::newRow("largest int") << std::numeric_limits<int>::max() << 0;
  QTest::newRow("most negative, turned") << std::numeric_limits<int>::min() << 45;
}

// A font too large for the rasteriser is refused with an error, never drawn wrong or crashing;
// the surface keeps its font and brush.
void TestFont::AbsurdFontRaises() {
  QFETCH(int, height);
  QFETCH(int, angle);
  Scene scene(50, 50, Qt::gray);
  scene.Font.SetQuality(0);
  scene.Font.Effect().SetAngle(angle);
  scene.Font.Effect().Shadow().SetEnabled(true);
  scene.Canvas.Font.Height = height;
  const CanvasFont before = scene.Canvas.Font;
  const QImage original = scene.Image.copy();
  QVERIFY_THROWS_EXCEPTION(QuillomarError, scene.Font.TextExtent(QStringLiteral("Big")));
  QVERIFY_THROWS_EXCEPTION(QuillomarError, scene.Font.TextOut(0, 0, QStringLiteral("Big")));
  QCOMPARE(scene.Canvas.Font, before);
  QCOMPARE(scene.Canvas.Brush.Style, BrushStyle::Clear);
  QCOMPARE(scene.Image, original);
}

// Turned by 90 degrees the text runs upward from the bottom-left corner of its box: the ink
// profile along the flat text matches the turned one read from the bottom up.
void TestFont::Turned90ReadsUpward() {
  Scene scene(400, 400, Qt::black);
  scene.Font.SetQuality(0);
  const QString text = QStringLiteral("Your Watermarking");
  scene.Font.TextOut(0, 0, text);
  const QImage flat = MaskImage(scene.Font.Mask());
  scene.Font.Effect().SetAngle(90);
  const QSize box = scene.Font.TextExtent(text);
  QVERIFY(box.height() > 3 * box.width());
  scene.Font.TextOut(0, 0, text);
  const QImage turned = MaskImage(scene.Font.Mask());
  QCOMPARE(turned.size(), box);

  std::vector<double> along(flat.width()), up(turned.height()), down(turned.height());
  for (int x = 0; x < flat.width(); ++x)
    for (int y = 0; y < flat.height(); ++y) along[x] += flat.pixelColor(x, y).red();
  for (int y = 0; y < turned.height(); ++y) {
    double sum = 0;
    for (int x = 0; x < turned.width(); ++x) sum += turned.pixelColor(x, y).red();
    up[turned.height() - 1 - y] = sum;
    down[y] = sum;
  }
  const double upward = Correlation(along, up);
  const double downward = Correlation(along, down);
  QVERIFY2(upward > 0.9, qPrintable(QString::number(upward)));
  QVERIFY(upward > downward + 0.3);
  // The tops of the glyphs face left: the flat text's rows, top to bottom, match the turned
  // text's columns, left to right.
  std::vector<double> rows(flat.height()), columns(turned.width()), mirrored(turned.width());
  for (int y = 0; y < flat.height(); ++y)
    for (int x = 0; x < flat.width(); ++x) rows[y] += flat.pixelColor(x, y).red();
  for (int x = 0; x < turned.width(); ++x) {
    for (int y = 0; y < turned.height(); ++y) columns[x] += turned.pixelColor(x, y).red();
    mirrored[turned.width() - 1 - x] = columns[x];
  }
  QVERIFY(Correlation(rows, columns) > 0.9);
  QVERIFY(Correlation(rows, columns) > Correlation(rows, mirrored));
}

// The watermark as the program draws it: 28 pt bold white Arial, 4 x 4 supersampling, a black
// shadow 2 px down-right at half the opacity, once flat and once turned by 90 degrees. The
// picture is saved for a look; the test checks what can be measured.
void TestFont::WatermarkPicture() {
  QImage picture(560, 440, QImage::Format_BGR888);
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      picture.setPixelColor(x, y, QColor(30 + x / 8, 50 + y / 8, 110 - y / 8));
  const QImage original = picture.copy();
  const QString text = QStringLiteral("Your Watermarking");

  auto draw = [&](QImage& target, int angle, bool withShadow, QPoint at) {
    TextCanvas canvas(&target);
    canvas.Font.Name = QStringLiteral("Arial");
    canvas.Font.SetSize(28);
    canvas.Font.Weight = kWeightBold;
    canvas.Font.Color = RgbToColor(255, 255, 255);
    canvas.Brush.Style = BrushStyle::Clear;
    TIAFontEx font(&canvas);
    font.SetQuality(0);
    font.Effect().Shadow().SetEnabled(withShadow);
    font.Effect().Shadow().SetBlur(0);
    font.Effect().Shadow().SetColor(0);
    font.Effect().Shadow().SetAlpha(50);
    font.Effect().SetAngle(angle);
    font.Effect().SetAlpha(80);
    const QRect box(at, font.TextExtent(text));
    font.TextOut(at.x(), at.y(), text);
    int levels = 0;
    std::vector<bool> seen(256);
    for (int y = 0; y < font.Mask().Height(); ++y)
      for (int x = 0; x < font.Mask().Width(); ++x) seen[font.Mask().Lines(y)[x]] = true;
    for (bool s : seen) levels += s;
    return std::make_pair(box, levels);
  };

  const QPoint flatAt(20, 30);
  const auto [flatBox, flatLevels] = draw(picture, 0, true, flatAt);
  const QPoint turnedAt(470, 40);
  const auto [turnedBox, turnedLevels] = draw(picture, 90, true, turnedAt);

  const QString folder = QDir::temp().filePath(QStringLiteral("quillomar-texteffects"));
  QDir().mkpath(folder);
  const QString path = QDir(folder).filePath(QStringLiteral("watermark.png"));
  QVERIFY(picture.save(path));
  qInfo("watermark saved to %s", qPrintable(path));

  // Antialiased: many coverage levels from the 4 x 4 blocks.
  QVERIFY(flatLevels > 12);
  QVERIFY(turnedLevels > 12);
  QVERIFY(flatBox.width() > 4 * flatBox.height());
  QVERIFY(turnedBox.height() > 4 * turnedBox.width());

  // Everything drawn lies inside the two boxes, and the boxes are well covered.
  const QRect changed = ChangedBox(original, picture, [](QColor, QColor) { return true; });
  QVERIFY(changed.isValid());
  int outside = 0, inFlat = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      if (original.pixel(x, y) != picture.pixel(x, y)) {
        if (!flatBox.contains(x, y) && !turnedBox.contains(x, y)) ++outside;
        if (flatBox.contains(x, y)) ++inFlat;
      }
  QCOMPARE(outside, 0);
  QVERIFY(inFlat > flatBox.width() * flatBox.height() / 5);

  // The shadow lies 2 px down-right of the text: compare with the text drawn alone.
  QImage alone = original.copy();
  const auto [aloneBox, aloneLevels] = draw(alone, 0, false, flatAt);
  Q_UNUSED(aloneLevels);
  QCOMPARE(aloneBox.size(), flatBox.size() - QSize(2, 2));
  const QRect textInk = ChangedBox(original, alone, [](QColor, QColor) { return true; });
  QImage flatOnly = original.copy();
  draw(flatOnly, 0, true, flatAt);
  const QRect brighter =
      ChangedBox(original, flatOnly, [](QColor a, QColor b) { return Luma(b) > Luma(a); });
  const QRect darker =
      ChangedBox(original, flatOnly, [](QColor a, QColor b) { return Luma(b) < Luma(a); });
  QCOMPARE(brighter.topLeft(), textInk.topLeft());
  QVERIFY(std::abs(darker.right() - (textInk.right() + 2)) <= 1);
  QVERIFY(std::abs(darker.bottom() - (textInk.bottom() + 2)) <= 1);
  QVERIFY(darker.left() >= textInk.left() + 1 && darker.top() >= textInk.top() + 1);
}

QTEST_MAIN(TestFont)
#include "tst_uFont.moc"
