// Time of drawing the default text watermark with the text-effects engine onto a 24-megapixel
// picture: "Your Watermarking", 28 pt (37 px) bold Arial, white at 80 % opacity, black shadow
// 2 px down-right at 40 %, 4 x 4 supersampling, clear brush.
//
// usage: bench_texteffects [RUNS] [ANGLE]
// The work must follow the size of the text, not of the picture: the picture is never copied
// or scanned whole. Prints the mean and the best time per render in milliseconds, wall-clock
// and processor time (the latter is the better figure on a busy machine), after one warm-up
// render that fills the font caches.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "texteffects/uFont.h"

namespace {

double ProcessorMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

void DrawWatermark(QImage& picture, int angle) {
  const QString text = QStringLiteral("Your Watermarking");
  TextCanvas canvas(&picture);
  canvas.Font.Name = QStringLiteral("Arial");
  canvas.Font.SetSize(28);
  canvas.Font.Weight = kWeightBold;
  canvas.Font.Color = RgbToColor(255, 255, 255);
  canvas.Brush.Style = BrushStyle::Clear;
  TIAFontEx font(&canvas);
  font.SetQuality(0);
  TIAShadow& shadow = font.Effect().Shadow();
  shadow.SetEnabled(true);
  shadow.SetBlur(0);
  shadow.SetColor(0);
  shadow.SetOffsetX(2);
  shadow.SetOffsetY(2);
  shadow.SetAlpha(50);
  font.Effect().SetAngle(static_cast<TAngle>(angle));
  font.Effect().SetAlpha(80);
  const int w = font.TextWidth(text);
  const int h = font.TextHeight(text);
  // Bottom-right corner, as the default watermark position puts it.
  font.TextOut(picture.width() - w, picture.height() - h, text);
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  const int runs = std::max(1, args.value(0, QStringLiteral("50")).toInt());
  const int angle = args.value(1, QStringLiteral("0")).toInt();

  QImage picture(6000, 4000, QImage::Format_BGR888);
  picture.fill(QColor(90, 120, 150));
  const uchar* pixelsBefore = picture.constBits();

  DrawWatermark(picture, angle);  // warm-up: font lookup and glyph caches

  double totalWall = 0, bestWall = 1e99, totalCpu = 0, bestCpu = 1e99;
  for (int i = 0; i < runs; ++i) {
    QElapsedTimer timer;
    const double cpu0 = ProcessorMs();
    timer.start();
    DrawWatermark(picture, angle);
    const double wall = timer.nsecsElapsed() / 1e6;
    const double cpu = ProcessorMs() - cpu0;
    totalWall += wall;
    totalCpu += cpu;
    bestWall = std::min(bestWall, wall);
    bestCpu = std::min(bestCpu, cpu);
  }
  if (picture.constBits() != pixelsBefore)
    std::fprintf(stderr, "warning: the picture was copied during drawing\n");
  std::printf(
      "text watermark on 6000 x 4000, angle %d, %d runs: mean %.2f ms (best %.2f) wall, "
      "mean %.2f ms (best %.2f) processor; target < 15 ms\n",
      angle, runs, totalWall / runs, bestWall, totalCpu / runs, bestCpu);
  return 0;
}
