#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include "app/BatchInfo.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: quillomar-batch [OPTIONS] PATH...\n"
    "Processes picture files in a batch with the settings of the Quillomar window.\n"
    "\n"
    "  --info               print the picture-list row of each PATH (type, dimensions,\n"
    "                       colours, size, DPI), tab-separated\n"
    "  --help               show this text\n"
    "  --version            show the version\n";

}  // namespace

int main(int argc, char* argv[]) {
  // The text engine draws with QPainter, which needs a GUI application object; the
  // offscreen platform keeps the command line independent of a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("quillomar-batch"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QUILLOMAR_VERSION));

  QTextStream out(stdout);
  QTextStream err(stderr);
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help(QStringLiteral("help"));
  const QCommandLineOption version(QStringLiteral("version"));
  const QCommandLineOption info(QStringLiteral("info"));
  parser.addOptions({help, version, info});
  if (!parser.parse(QCoreApplication::arguments())) {
    err << parser.errorText() << "\n" << kUsage;
    return kExitUsage;
  }
  if (parser.isSet(help)) {
    out << kUsage;
    return kExitOk;
  }
  if (parser.isSet(version)) {
    out << "quillomar-batch " << QUILLOMAR_VERSION << "\n";
    return kExitOk;
  }
  const QStringList paths = parser.positionalArguments();
  if (paths.isEmpty()) {
    err << "No picture given.\n" << kUsage;
    return kExitUsage;
  }
  if (parser.isSet(info)) {
    for (const QString& path : paths) out << PictureInfoLine(path) << "\n";
    return kExitOk;
  }
  err << "Running a batch is not available yet; use --info.\n";
  return kExitUsage;
}
