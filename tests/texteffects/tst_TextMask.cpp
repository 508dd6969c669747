#include <QtTest>
#include <cmath>
#include <numbers>
#include <thread>

#include "texteffects/uFont.h"
#include "util/Random.h"

// The coverage mask and the blend: supersampling, mask operations and the blend arithmetic.
class TestTextMask : public QObject {
  Q_OBJECT

 private slots:
  void RowsAreBottomUp();
  void LinesOutsideRaise();
  void BlurSinglePixel_data();
  void BlurSinglePixel();
  void BlurKeepsFullMask();
  void RotatedBox_data();
  void RotatedBox();
  void FullBlockCoverage_data();
  void FullBlockCoverage();
  void MeasureTurnedAndItalic();
  void TurnedTextIsUnsmoothedAndInside_data();
  void TurnedTextIsUnsmoothedAndInside();
  void OutlineKeepsBorder();
  void OutlineOfEdges();
  void Mirrors();
  void SprayDrawsThreeNumbersPerPixel();
  void SprayOfConstantMaskIsConstant();
  void AssignCopiesMask();
  void BlendColorWeights_data();
  void BlendColorWeights();
  void BlendBrush();
  void BlendClipsToTarget();
  void BlendBitmapChecksFore();
  void NoSurfaceDoesNothing();
  void RenderingAgainFollowsEveryChange();
};

namespace {

// A hand-made mask of the given size with every pixel at value.
struct TestMask : TIAMask {
  TestMask(int width, int height, int value = 0) {
    Resize(width, height);
    for (int y = 0; y < height; ++y) std::fill_n(Lines(y), width, std::uint8_t(value));
  }
};

int At(const TIAMask& mask, int x, int y) { return mask.Lines(y)[x]; }
void Set(TIAMask& mask, int x, int y, int value) { mask.Lines(y)[x] = std::uint8_t(value); }

QImage Canvas(int width, int height, QColor colour) {
  QImage image(width, height, QImage::Format_BGR888);
  image.fill(colour);
  return image;
}

}  // namespace

void TestTextMask::RowsAreBottomUp() {
  TestMask mask(5, 3);
  QCOMPARE(mask.Stride(), 8);
  QCOMPARE(mask.Bits().size(), std::size_t(24));
  Set(mask, 1, 0, 7);  // top row lives in the last stride of Bits
  QCOMPARE(int(mask.Bits()[2 * 8 + 1]), 7);
  Set(mask, 4, 2, 9);  // bottom row first
  QCOMPARE(int(mask.Bits()[4]), 9);
}

void TestTextMask::LinesOutsideRaise() {
  TestMask mask(4, 2);
  QVERIFY_THROWS_EXCEPTION(EInvalidLine, mask.Lines(-1));
  QVERIFY_THROWS_EXCEPTION(EInvalidLine, mask.Lines(2));
  try {
    mask.Lines(5);
  } catch (const EInvalidLine& error) {
    QCOMPARE(error.Text(), QStringLiteral("Invalid line!"));
  }
}

void TestTextMask::BlurSinglePixel_data() {
  QTest::addColumn<int>("strength");
  QTest::addColumn<int>("centre");
  QTest::addColumn<int>("neighbour");
  QTest::addColumn<int>("outside");
  QTest::newRow("100") << 100 << 10 << 10 << 0;
  QTest::newRow("80") << 80 << 59 << 7 << 0;
  // k = 128: 255 + floor(-245 * 128 / 256) and floor(10 * 128 / 256).
  QTest::newRow("50") << 50 << 132 << 5 << 0;
  QTest::newRow("1") << 1 << 252 << 0 << 0;
}

void TestTextMask::BlurSinglePixel() {
  QFETCH(int, strength);
  QFETCH(int, centre);
  QFETCH(int, neighbour);
  QFETCH(int, outside);
  TestMask mask(11, 11);
  Set(mask, 5, 5, 255);
  mask.ApplyBlur(strength);
  QCOMPARE(At(mask, 5, 5), centre);
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 11; ++x) {
      if (x == 5 && y == 5) continue;
      const bool inside = std::abs(x - 5) <= 2 && std::abs(y - 5) <= 2;
      QCOMPARE(At(mask, x, y), inside ? neighbour : outside);
    }
}

void TestTextMask::BlurKeepsFullMask() {
  for (int strength : {1, 33, 80, 100}) {
    TestMask mask(5, 5, 255);
    mask.ApplyBlur(strength);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 5; ++x) QCOMPARE(At(mask, x, y), 255);
  }
  // At the edge the window reads the border again: a corner pixel counts nine times.
  TestMask mask(8, 8);
  Set(mask, 0, 0, 250);
  mask.ApplyBlur(100);
  QCOMPARE(At(mask, 0, 0), 90);  // round(9 * 250 / 25)
  QCOMPARE(At(mask, 2, 2), 10);
  QCOMPARE(At(mask, 3, 3), 0);
}

void TestTextMask::RotatedBox_data() {
  QTest::addColumn<int>("degrees");
  QTest::addColumn<QSize>("size");
  QTest::addColumn<QPoint>("offset");
  QTest::newRow("90") << 90 << QSize(20, 100) << QPoint(0, 100);
  QTest::newRow("30") << 30 << QSize(96, 68) << QPoint(0, 50);
  QTest::newRow("-30") << -30 << QSize(96, 68) << QPoint(10, 0);
  QTest::newRow("180") << 180 << QSize(100, 20) << QPoint(100, 20);
  QTest::newRow("-90") << -90 << QSize(20, 100) << QPoint(20, 0);
}

void TestTextMask::RotatedBox() {
  QFETCH(int, degrees);
  QFETCH(QSize, size);
  QFETCH(QPoint, offset);
  const TMaskExtent box = ::RotatedBox(100, 20, degrees * std::numbers::pi / 180.0);
  QCOMPARE(box.Size, size);
  QCOMPARE(box.Offset, offset);
}

// A bold capital I at 120 px is wide enough to hold fully covered blocks at every level.
void TestTextMask::FullBlockCoverage_data() {
  QTest::addColumn<int>("quality");
  QTest::addColumn<int>("full");
  QTest::newRow("4x4") << 0 << 255;
  QTest::newRow("3x3") << 1 << 254;
  QTest::newRow("2x2") << 2 << 255;
  QTest::newRow("direct") << 3 << 255;
}

void TestTextMask::FullBlockCoverage() {
  QFETCH(int, quality);
  QFETCH(int, full);
  QImage image = Canvas(10, 10, Qt::black);
  TextCanvas canvas(&image);
  canvas.Font.Height = 120;
  canvas.Font.Weight = kWeightBold;
  TIAFont font(&canvas);
  font.SetQuality(quality);
  TIAMask& mask = font.Mask();
  mask.RenderText(QStringLiteral("I"));
  QCOMPARE(QSize(mask.Width(), mask.Height()), font.TextExtent(QStringLiteral("I")));
  int maximum = 0;
  int partial = 0;
  for (int y = 0; y < mask.Height(); ++y)
    for (int x = 0; x < mask.Width(); ++x) {
      maximum = std::max(maximum, At(mask, x, y));
      if (At(mask, x, y) > 0 && At(mask, x, y) < full) ++partial;
    }
  QCOMPARE(maximum, full);
  if (quality == 3) QCOMPARE(partial, 0);  // direct drawing has two levels only
}

void TestTextMask::MeasureTurnedAndItalic() {
  TextCanvas canvas;
  canvas.Font.Height = 40;
  TIAFont font(&canvas);
  const QString text = QStringLiteral("Turned text");
  const TMaskExtent flat = font.Mask().MeasureText(text);
  QCOMPARE(flat.Offset, QPoint(0, 0));
  const TextCellSize cell = MeasureTextCell(
      [] {
        CanvasFont f;
        f.Height = 120;  // scale 3
        return f;
      }(),
      text);
  QCOMPARE(flat.Size, QSize((cell.Advance + 2) / 3, (cell.CellHeight + 2) / 3));

  // A turned font gives the turned box of the flat measurement (an odd side may grow by one
  // through the rounding of the corners).
  canvas.Font.Escapement = 900;
  const TMaskExtent turned = font.Mask().MeasureText(text);
  const TMaskExtent expected =
      ::RotatedBox(flat.Size.width(), flat.Size.height(), std::numbers::pi / 2);
  QCOMPARE(turned.Size, expected.Size);
  QCOMPARE(turned.Offset, expected.Offset);
  QVERIFY(std::abs(turned.Size.width() - flat.Size.height()) <= 1);
  QVERIFY(std::abs(turned.Size.height() - flat.Size.width()) <= 1);

  canvas.Font.Escapement = 0;
  canvas.Font.Italic = true;
  const TMaskExtent italic = font.Mask().MeasureText(text);
  const int upright = (MeasureTextCell(
                           [] {
                             CanvasFont f;
                             f.Height = 120;
                             f.Italic = true;
                             return f;
                           }(),
                           text)
                           .Advance +
                       2) /
                      3;
  QCOMPARE(italic.Size.width(), upright + RoundHalfEven(double(upright) / text.size() * 0.3));
}

void TestTextMask::TurnedTextIsUnsmoothedAndInside_data() {
  QTest::addColumn<int>("escapement");
  QTest::newRow("30") << 300;
  QTest::newRow("-30") << -300;
  QTest::newRow("90") << 900;
  QTest::newRow("135") << 1350;
  QTest::newRow("180") << 1800;
}

// Drawn directly (quality 3) a turned text still has two levels only, and its ink stays off
// the far corners of its box: the start corner was placed where the turned cell lies.
void TestTextMask::TurnedTextIsUnsmoothedAndInside() {
  QFETCH(int, escapement);
  TextCanvas canvas;
  canvas.Font.Height = 30;
  canvas.Font.Weight = kWeightBold;
  canvas.Font.Escapement = escapement;
  TIAFont font(&canvas);
  font.SetQuality(3);
  const QString text = QStringLiteral("HHHHHHHH");
  font.Mask().RenderText(text);
  const TIAMask& mask = font.Mask();
  long long ink = 0;
  double sumX = 0, sumY = 0;
  for (int y = 0; y < mask.Height(); ++y)
    for (int x = 0; x < mask.Width(); ++x) {
      const int v = At(mask, x, y);
      QVERIFY(v == 0 || v == 255);
      if (v == 255) {
        ++ink;
        sumX += x;
        sumY += y;
      }
    }
  // Turning keeps the amount of ink (up to the rasteriser's rounding) and centres it in the box.
  canvas.Font.Escapement = 0;
  TIAMask flat(&font);
  flat.SetQuality(3);
  flat.RenderText(text);
  long long flatInk = 0;
  for (int y = 0; y < flat.Height(); ++y)
    for (int x = 0; x < flat.Width(); ++x) flatInk += At(flat, x, y) == 255;
  QVERIFY2(std::abs(ink - flatInk) < flatInk / 10,
           qPrintable(QStringLiteral("%1 vs %2").arg(ink).arg(flatInk)));
  QVERIFY(std::abs(sumX / ink - mask.Width() / 2.0) < mask.Width() / 8.0 + 3);
  QVERIFY(std::abs(sumY / ink - mask.Height() / 2.0) < mask.Height() / 8.0 + 3);
}

void TestTextMask::OutlineKeepsBorder() {
  // A glyph that touches the border: the border keeps its coverage.
  TestMask mask(6, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 3; ++x) Set(mask, x, y, 200);
  mask.ApplyOutline();
  for (int y = 0; y < 5; ++y) QCOMPARE(At(mask, 0, y), 200);
  for (int x = 0; x < 3; ++x) QCOMPARE(At(mask, x, 0), 200);
  // Inside, a flat area gives 0 and the edge gets the gradient.
  QCOMPARE(At(mask, 1, 2), 0);
  QCOMPARE(At(mask, 2, 2), (0 + 200 + 200 + 200) >> 2);
  QCOMPARE(At(mask, 3, 2), (0 + 200 + 200 + 200) >> 2);
  QCOMPARE(At(mask, 4, 2), 0);
  // Masks below 3 x 3 are left alone.
  TestMask thin(2, 9, 255);
  thin.ApplyOutline();
  QCOMPARE(At(thin, 1, 4), 255);
}

void TestTextMask::OutlineOfEdges() {
  // A single full pixel: every neighbour sees it in at most one or two terms; never above 255.
  TestMask mask(5, 5);
  Set(mask, 2, 2, 255);
  mask.ApplyOutline();
  QCOMPARE(At(mask, 2, 2), 0);
  QCOMPARE(At(mask, 2, 1), 255 >> 2);  // |B[x] - A[x]|
  QCOMPARE(At(mask, 1, 1), 255 >> 2);  // |B[x+1] - A[x-1]|
  QCOMPARE(At(mask, 3, 2), 255 >> 2);  // |M[x-1] - M[x+1]|
  // Every term at its largest gives 255, not more.
  TestMask stripes(3, 3);
  Set(stripes, 0, 2, 255);
  Set(stripes, 1, 2, 255);
  Set(stripes, 2, 2, 255);
  Set(stripes, 2, 1, 255);
  stripes.ApplyOutline();
  QCOMPARE(At(stripes, 1, 1), 255);
}

void TestTextMask::Mirrors() {
  TestMask mask(5, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) Set(mask, x, y, y * 10 + x);
  mask.FlipHorz();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) QCOMPARE(At(mask, x, y), y * 10 + (4 - x));
  QCOMPARE(At(mask, 2, 1), 12);  // the middle column of an odd width stays
  mask.FlipVert();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) QCOMPARE(At(mask, x, y), (2 - y) * 10 + (4 - x));
}

void TestTextMask::SprayDrawsThreeNumbersPerPixel() {
  TestMask mask(7, 4);
  Set(mask, 3, 2, 255);
  SetRandomSeed(12345);
  mask.ApplySpray(3);
  const std::uint32_t after = RandomSeed();
  SetRandomSeed(12345);
  // Replay the draws: a distance, then an x and a y displacement within it, per pixel.
  TestMask replay(7, 4);
  Set(replay, 3, 2, 255);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 7; ++x) {
      const int r = RandomInt(4);
      QVERIFY(r >= 0 && r <= 3);
      const int dx = r - RandomInt(2 * r);
      const int dy = r - RandomInt(2 * r);
      QVERIFY(std::abs(dx) <= 3 && std::abs(dy) <= 3);
      Set(replay, x, y, At(replay, std::clamp(x + dx, 0, 6), std::clamp(y + dy, 0, 3)));
    }
  QCOMPARE(RandomSeed(), after);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 7; ++x) QCOMPARE(At(mask, x, y), At(replay, x, y));
}

void TestTextMask::SprayOfConstantMaskIsConstant() {
  SetRandomSeed(7);
  TestMask mask(9, 9, 77);
  mask.ApplySpray(100);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x) QCOMPARE(At(mask, x, y), 77);
}

void TestTextMask::AssignCopiesMask() {
  TestMask source(6, 2);
  source.SetQuality(0);
  Set(source, 5, 1, 99);
  TIAMask copy;
  copy.Assign(source);
  QCOMPARE(copy.Width(), 6);
  QCOMPARE(copy.Height(), 2);
  QCOMPARE(copy.Stride(), 8);
  QCOMPARE(copy.Scale(), 4);
  QCOMPARE(At(copy, 5, 1), 99);
  Set(source, 5, 1, 1);  // a copy, not a view
  QCOMPARE(At(copy, 5, 1), 99);
}

void TestTextMask::BlendColorWeights_data() {
  QTest::addColumn<int>("alpha");
  QTest::addColumn<int>("coverage");
  QTest::addColumn<int>("weight");
  QTest::newRow("100% full") << 100 << 255 << 255;
  QTest::newRow("80% full") << 80 << 255 << 203;
  QTest::newRow("0% full") << 0 << 255 << 0;
  QTest::newRow("100% half") << 100 << 128 << 128;
  QTest::newRow("50% tiny") << 50 << 1 << 0;
  QTest::newRow("40% full") << 40 << 255 << 101;
}

void TestTextMask::BlendColorWeights() {
  QFETCH(int, alpha);
  QFETCH(int, coverage);
  QFETCH(int, weight);
  const QColor background(200, 100, 10);
  QImage image = Canvas(4, 3, background);
  TextCanvas canvas(&image);
  canvas.Brush.Style = BrushStyle::Clear;
  TIAFont font(&canvas);
  TestMask mask(2, 1, coverage);
  const TColor colour = RgbToColor(10, 250, 100);
  font.Blend().BlendColor(1, 1, colour, alpha, mask);

  auto mix = [&](int d, int c) {
    if (weight == 0) return d;
    if (weight == 255) return c;
    return d + static_cast<int>(std::floor((c - d) * weight / 256.0));
  };
  const QColor expected(mix(200, 10), mix(100, 250), mix(10, 100));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool covered = y == 1 && (x == 1 || x == 2);
      QCOMPARE(image.pixelColor(x, y), covered ? expected : background);
    }
}

void TestTextMask::BlendBrush() {
  QImage image = Canvas(6, 6, QColor(0, 0, 255));
  TextCanvas canvas(&image);
  TIAFont font(&canvas);
  TestMask mask(3, 3);
  Set(mask, 1, 1, 255);
  // A solid brush turns the whole rectangle into brush colour plus text.
  canvas.Brush = CanvasBrush{BrushStyle::Solid, RgbToColor(0, 255, 0)};
  font.Blend().BlendColor(0, 0, RgbToColor(255, 0, 0), 100, mask);
  QCOMPARE(image.pixelColor(0, 0), QColor(0, 255, 0));
  QCOMPARE(image.pixelColor(1, 1), QColor(255, 0, 0));
  QCOMPARE(image.pixelColor(3, 3), QColor(0, 0, 255));
  // A clear brush keeps the picture around the glyphs.
  canvas.Brush.Style = BrushStyle::Clear;
  font.Blend().BlendColor(3, 3, RgbToColor(255, 0, 0), 100, mask);
  QCOMPARE(image.pixelColor(3, 3), QColor(0, 0, 255));
  QCOMPARE(image.pixelColor(4, 4), QColor(255, 0, 0));
}

void TestTextMask::BlendClipsToTarget() {
  QImage image = Canvas(4, 4, Qt::black);
  TextCanvas canvas(&image);
  canvas.Brush.Style = BrushStyle::Clear;
  TIAFont font(&canvas);
  TestMask mask(3, 3, 255);
  font.Blend().BlendColor(-2, 3, RgbToColor(255, 255, 255), 100, mask);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      QCOMPARE(image.pixelColor(x, y), (x == 0 && y == 3) ? QColor(Qt::white) : QColor(Qt::black));
  font.Blend().BlendColor(10, -10, RgbToColor(255, 255, 255), 100, mask);  // wholly outside
}

void TestTextMask::BlendBitmapChecksFore() {
  QImage image = Canvas(4, 4, Qt::black);
  TextCanvas canvas(&image);
  canvas.Brush.Style = BrushStyle::Clear;
  TIAFont font(&canvas);
  TestMask mask(2, 2, 255);
  Set(mask, 0, 0, 0);
  TIABlend& blend = font.Blend();
  blend.Fore = QImage(3, 2, QImage::Format_BGR888);
  blend.Fore.fill(Qt::white);
  QVERIFY_THROWS_EXCEPTION(EInvalidForeBmp, blend.BlendBitmap(0, 0, 100, mask));
  blend.Fore = QImage(2, 2, QImage::Format_RGB32);
  blend.Fore.fill(Qt::white);
  try {
    blend.BlendBitmap(0, 0, 100, mask);
    QFAIL("no error raised");
  } catch (const EInvalidForeBmp& error) {
    QCOMPARE(error.Text(), QStringLiteral("Invalid foreground bitmap!"));
  }
  QCOMPARE(image, Canvas(4, 4, Qt::black));

  blend.Fore = QImage(2, 2, QImage::Format_BGR888);
  blend.Fore.setPixelColor(0, 0, QColor(1, 2, 3));
  blend.Fore.setPixelColor(1, 0, QColor(4, 5, 6));
  blend.Fore.setPixelColor(0, 1, QColor(7, 8, 9));
  blend.Fore.setPixelColor(1, 1, QColor(10, 11, 12));
  blend.BlendBitmap(1, 1, 100, mask);
  QCOMPARE(image.pixelColor(1, 1), QColor(Qt::black));  // no coverage
  QCOMPARE(image.pixelColor(2, 1), QColor(4, 5, 6));
  QCOMPARE(image.pixelColor(1, 2), QColor(7, 8, 9));
  QCOMPARE(image.pixelColor(2, 2), QColor(10, 11, 12));
}

void TestTextMask::NoSurfaceDoesNothing() {
  TIAMask orphan;
  QCOMPARE(orphan.MeasureText(QStringLiteral("abc")).Size, QSize(0, 0));
  orphan.RenderText(QStringLiteral("abc"));
  QCOMPARE(orphan.Width(), 0);
  TIABlend blend;
  blend.BlendColor(0, 0, 0, 100, TestMask(2, 2, 255));

  TIAFont font(nullptr);
  QCOMPARE(font.TextExtent(QStringLiteral("abc")), QSize(0, 0));
  TextCanvas empty;  // a surface without a picture measures but cannot be drawn on
  TIAFont measuring(&empty);
  QVERIFY(measuring.TextWidth(QStringLiteral("abc")) > 0);
  measuring.Blend().BlendColor(0, 0, 0, 100, TestMask(2, 2, 255));
}

// The last rendering and measurement are kept per thread for the next call with the same text
// and font. A sequence of renderings that changes one thing at a time, and changes it back, must
// give at each step the mask and size that a fresh thread (with nothing kept) gives.
void TestTextMask::RenderingAgainFollowsEveryChange() {
  struct Step {
    QString Text;
    CanvasFont Font;
    int Quality;
  };
  CanvasFont base;
  base.Height = 30;
  QList<Step> steps;
  steps << Step{QStringLiteral("Kept"), base, 0} << Step{QStringLiteral("Kept"), base, 0}
        << Step{QStringLiteral("Kept!"), base, 0};
  CanvasFont bold = base;
  bold.Weight = kWeightBold;
  CanvasFont taller = base;
  taller.Height = 31;
  CanvasFont turned = base;
  turned.Escapement = 450;
  CanvasFont italic = base;
  italic.Italic = true;
  steps << Step{QStringLiteral("Kept"), bold, 0} << Step{QStringLiteral("Kept"), taller, 0}
        << Step{QStringLiteral("Kept"), turned, 0} << Step{QStringLiteral("Kept"), italic, 0}
        << Step{QStringLiteral("Kept"), base, 1} << Step{QStringLiteral("Kept"), base, 0};

  struct Result {
    QSize Extent;
    int Width = 0, Height = 0;
    std::vector<std::uint8_t> Bits;
    bool operator==(const Result&) const = default;
  };
  const auto render = [](const Step& step) {
    TextCanvas canvas;
    canvas.Font = step.Font;
    TIAFont font(&canvas);
    font.SetQuality(step.Quality);
    Result r;
    r.Extent = font.TextExtent(step.Text);
    font.Mask().RenderText(step.Text);
    r.Width = font.Mask().Width();
    r.Height = font.Mask().Height();
    r.Bits = font.Mask().Bits();
    return r;
  };
  for (qsizetype i = 0; i < steps.size(); ++i) {
    const Result here = render(steps[i]);
    Result fresh;
    std::thread([&] { fresh = render(steps[i]); }).join();
    QVERIFY(fresh.Width > 0 && fresh.Height > 0);
    QVERIFY2(here == fresh, qPrintable(QStringLiteral("step %1").arg(i)));
  }
}

QTEST_MAIN(TestTextMask)
#include "tst_TextMask.moc"
