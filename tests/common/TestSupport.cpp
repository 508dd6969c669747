#include "common/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <limits>
#ifdef Q_OS_WIN
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>

QString SourceDir() { return QStringLiteral(QUILLOMAR_SOURCE_DIR); }

QString FixturePath(const QString& name) {
  return SourceDir() + QStringLiteral("/tests/fixtures/") + name;
}

QString BinaryDir() { return qEnvironmentVariable("QUILLOMAR_BINARY_DIR"); }

ByteView View(const QByteArray& bytes) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                  std::size_t(bytes.size()));
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray StderrOf(const std::function<void()>& f) {
  std::fflush(stderr);
  std::FILE* sink = std::tmpfile();
  if (!sink) return QByteArrayLiteral("(no temporary file)");
  const int saved = dup(2);
  dup2(fileno(sink), 2);
  std::exception_ptr failure;
  try {
    f();
  } catch (...) {
    failure = std::current_exception();
  }
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::rewind(sink);
  QByteArray text;
  char buffer[512];
  while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, sink))
    text.append(buffer, qsizetype(n));
  std::fclose(sink);
  if (failure) std::rethrow_exception(failure);
  return text;
}

QString SystemPython() { return QStringLiteral("/usr/bin/python3"); }

ProcessResult RunProgram(const QString& program, const QStringList& args, int timeoutMs) {
  QProcess process;
  process.start(program, args);
  ProcessResult result;
  if (!process.waitForStarted(timeoutMs)) {
    result.Err = process.errorString().toUtf8();
    return result;
  }
  process.closeWriteChannel();
  process.waitForFinished(timeoutMs);
  result.Out = process.readAllStandardOutput();
  result.Err = process.readAllStandardError();
  result.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  return result;
}

ProcessResult RunPython(const QString& script, const QStringList& args) {
  return RunProgram(SystemPython(), QStringList{QStringLiteral("-c"), script} + args);
}

QImage DecodeWithPillow(const QString& path, QString* error) {
  static const char kScript[] =
      "import sys\n"
      "from PIL import Image\n"
      "im = Image.open(sys.argv[1])\n"
      "im.load()\n"
      "rgb = im.convert('RGB')\n"
      "sys.stdout.buffer.write(b'%d %d\\n' % rgb.size)\n"
      "sys.stdout.buffer.write(rgb.tobytes())\n";
  const ProcessResult r = RunPython(QString::fromLatin1(kScript), {path});
  if (r.ExitCode != 0) {
    if (error) *error = QString::fromUtf8(r.Err);
    return {};
  }
  const int eol = r.Out.indexOf('\n');
  const QList<QByteArray> size = r.Out.left(eol).split(' ');
  if (eol < 0 || size.size() != 2) {
    if (error) *error = QStringLiteral("unexpected output from Pillow");
    return {};
  }
  const int w = size[0].toInt();
  const int h = size[1].toInt();
  if (r.Out.size() - eol - 1 != qsizetype(w) * h * 3) {
    if (error) *error = QStringLiteral("short output from Pillow");
    return {};
  }
  QImage image(w, h, QImage::Format_RGB888);
  const char* src = r.Out.constData() + eol + 1;
  for (int y = 0; y < h; ++y) memcpy(image.scanLine(y), src + qsizetype(y) * w * 3, size_t(w) * 3);
  return image;
}

namespace {

// Calls f with the absolute difference of every colour channel of two pictures of one size.
template <typename F>
bool ForEachChannelDifference(const QImage& a, const QImage& b, F&& f) {
  if (a.isNull() || b.isNull() || a.size() != b.size()) return false;
  const QImage ra = a.convertToFormat(QImage::Format_RGB888);
  const QImage rb = b.convertToFormat(QImage::Format_RGB888);
  for (int y = 0; y < ra.height(); ++y) {
    const uchar* pa = ra.constScanLine(y);
    const uchar* pb = rb.constScanLine(y);
    for (int x = 0; x < ra.width() * 3; ++x) f(std::abs(pa[x] - pb[x]));
  }
  return true;
}

}  // namespace

int MaxChannelDifference(const QImage& a, const QImage& b) {
  int worst = 0;
  const bool same = ForEachChannelDifference(a, b, [&](int d) { worst = std::max(worst, d); });
  return same ? worst : -1;
}

double MeanChannelDifference(const QImage& a, const QImage& b) {
  double sum = 0;
  if (!ForEachChannelDifference(a, b, [&](int d) { sum += d; }))
    return std::numeric_limits<double>::infinity();
  return sum / (double(a.width()) * a.height() * 3);
}

QImage MakeTestPicture(int width, int height) {
  QImage image(width, height, QImage::Format_BGR888);
  for (int y = 0; y < height; ++y) {
    uchar* p = image.scanLine(y);
    for (int x = 0; x < width; ++x) {
      const double fx = double(x) / std::max(1, width - 1);
      const double fy = double(y) / std::max(1, height - 1);
      const int detail = ((x * 7 + y * 13) % 17) - 8;
      const int r = int(255 * fx) + detail;
      const int g = int(255 * fy) - detail;
      const int b = int(127 + 120 * std::sin(6.28318 * (fx + fy)));
      p[3 * x + 0] = uchar(std::clamp(b, 0, 255));
      p[3 * x + 1] = uchar(std::clamp(g, 0, 255));
      p[3 * x + 2] = uchar(std::clamp(r, 0, 255));
    }
  }
  return image;
}

QImage MakeIndexed(int width, int height, int colours) {
  QImage image(width, height, QImage::Format_Indexed8);
  QList<QRgb> table;
  for (int i = 0; i < colours; ++i) table.append(qRgb(255 - i, (i * 37) % 256, (i * 101) % 256));
  image.setColorTable(table);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.scanLine(y)[x] = uchar((x / 3 + y * 7 + 190) % colours);
  return image;
}

QImage MakeFewColours(int width, int height, const QList<QRgb>& colours) {
  QImage image(width, height, QImage::Format_BGR888);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.setPixel(x, y, colours[(x / 4 + y) % colours.size()]);
  return image;
}

Picture SolidPicture(int width, int height, QColor color) {
  Picture picture;
  picture.Image = QImage(width, height, QImage::Format_BGR888);
  picture.Image.fill(color);
  return picture;
}

QRect ChangedRect(const QImage& before, const QImage& after) {
  QRect rect;
  for (int y = 0; y < before.height(); ++y)
    for (int x = 0; x < before.width(); ++x)
      if (before.pixel(x, y) != after.pixel(x, y)) rect |= QRect(x, y, 1, 1);
  return rect;
}
