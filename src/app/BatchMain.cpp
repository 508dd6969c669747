#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTextStream>
#include <QThread>
#include <cstdio>
#include <exception>

#include "app/BatchInfo.h"
#include "app/BatchTerminalHost.h"
#include "pictures/PictureListModel.h"
#include "pictures/PictureSources.h"
#include "processing/BatchRun.h"
#include "processing/ProcessLog.h"
#include "settings/SettingsFiles.h"
#include "util/AppDir.h"
#include "util/Errors.h"
#include "util/MemoryTuning.h"
#include "util/PathText.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: quillomar-batch [OPTIONS] PATH...\n"
    "Processes picture files in a batch with the settings of the Quillomar window.\n"
    "\n"
    "  PATH                 picture files (added as if dropped on the window) or one folder\n"
    "                       (scanned as by \"Select Folder\"; its sub-folders are mirrored)\n"
    "  --appdir DIR         program data folder (Setup.ini, Data/, Log.dat)\n"
    "  --settings NAME      named settings DataDir/NAME.set (default: the current one)\n"
    "  --settings-file F    a settings file by path\n"
    "  --set KEY=VALUE      override one settings key, value as in a settings file\n"
    "                       (repeatable)\n"
    "  --output DIR         the same as --set OutputFolder=DIR\n"
    "  --filter PATTERN     folder-scan filter, default *.*\n"
    "  --recursive          include sub-folders in the scan\n"
    "  --replace MODE       ask | all | skip | cancel (default: ask on a terminal,\n"
    "                       skip otherwise)\n"
    "  --jobs N             pictures processed at once (default: the number of cores)\n"
    "  --save               write the settings back (with the advanced StartNo) to the\n"
    "                       named settings\n"
    "  --info               print the picture-list row of each PATH (type, dimensions,\n"
    "                       colours, size, DPI), tab-separated\n"
    "  --quiet              no progress bar\n"
    "  --verbose            the run's details lines on standard output\n"
    "  --help               show this text\n"
    "  --version            show the version\n"
    "\n"
    "Exit status: 0 every picture written; 1 some picture failed or the run was\n"
    "interrupted; 2 usage error or refused start.\n";

int UsageError(QTextStream& err, const QString& message) {
  err << message << "\n";
  return kExitUsage;
}

// Without a session (a server, a cron job) XDG_RUNTIME_DIR is unset and Qt warns about it on
// standard error at every start. Give it the private folder Qt would fall back to, created
// readable by the user only, so that the warning does not mix with the program's own messages.
void UsePrivateRuntimeDir() {
#ifdef Q_OS_UNIX
  if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) return;
  const QByteArray dir =
      QDir::tempPath().toLocal8Bit() + "/runtime-" + QByteArray::number(getuid());
  QFileInfo info(QString::fromLocal8Bit(dir));
  if (!info.exists() && ::mkdir(dir.constData(), 0700) != 0) return;
  if (QFileInfo(QString::fromLocal8Bit(dir)).isDir()) qputenv("XDG_RUNTIME_DIR", dir);
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
  ReturnFreedMemoryPromptly();
  // The text engine draws with QPainter, which needs a GUI application object; the
  // offscreen platform keeps the command line independent of a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  UsePrivateRuntimeDir();
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
  const QCommandLineOption appDirOption(QStringLiteral("appdir"), {}, QStringLiteral("DIR"));
  const QCommandLineOption settingsOption(QStringLiteral("settings"), {}, QStringLiteral("NAME"));
  const QCommandLineOption settingsFileOption(QStringLiteral("settings-file"), {},
                                              QStringLiteral("F"));
  const QCommandLineOption setOption(QStringLiteral("set"), {}, QStringLiteral("KEY=VALUE"));
  const QCommandLineOption outputOption(QStringLiteral("output"), {}, QStringLiteral("DIR"));
  const QCommandLineOption filterOption(QStringLiteral("filter"), {}, QStringLiteral("PATTERN"),
                                        QStringLiteral("*.*"));
  const QCommandLineOption recursive(QStringLiteral("recursive"));
  const QCommandLineOption replaceOption(QStringLiteral("replace"), {}, QStringLiteral("MODE"));
  const QCommandLineOption jobsOption(QStringLiteral("jobs"), {}, QStringLiteral("N"));
  const QCommandLineOption save(QStringLiteral("save"));
  const QCommandLineOption quiet(QStringLiteral("quiet"));
  const QCommandLineOption verbose(QStringLiteral("verbose"));
  parser.addOptions({help, version, info, appDirOption, settingsOption, settingsFileOption,
                     setOption, outputOption, filterOption, recursive, replaceOption, jobsOption,
                     save, quiet, verbose});
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

  // Options that need checking before anything is read or written.
  if (parser.isSet(quiet) && parser.isSet(verbose))
    return UsageError(err, QStringLiteral("--quiet and --verbose exclude each other."));
  if (parser.isSet(settingsOption) && parser.isSet(settingsFileOption))
    return UsageError(err, QStringLiteral("--settings and --settings-file exclude each other."));
  const bool interactive = isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
  ReplaceMode replaceMode = interactive ? ReplaceMode::Ask : ReplaceMode::Skip;
  if (parser.isSet(replaceOption)) {
    const QString mode = parser.value(replaceOption).toLower();
    if (mode == QStringLiteral("ask"))
      replaceMode = ReplaceMode::Ask;
    else if (mode == QStringLiteral("all"))
      replaceMode = ReplaceMode::All;
    else if (mode == QStringLiteral("skip"))
      replaceMode = ReplaceMode::Skip;
    else if (mode == QStringLiteral("cancel"))
      replaceMode = ReplaceMode::Cancel;
    else
      return UsageError(err, QStringLiteral("Unknown --replace mode: %1 (ask, all, skip or cancel)")
                                 .arg(parser.value(replaceOption)));
  }
  int jobs = 0;  // one per core
  if (parser.isSet(jobsOption)) {
    bool ok = false;
    jobs = parser.value(jobsOption).toInt(&ok);
    if (!ok || jobs < 1)
      return UsageError(err, QStringLiteral("--jobs needs a whole number of at least 1."));
  }

  // The settings: a file by path, a named settings file, or the current one of Setup.ini.
  const QString appDir = ResolveAppDir(parser.value(appDirOption));
  QString settingsPath;
  if (parser.isSet(settingsFileOption)) {
    settingsPath = parser.value(settingsFileOption);
    if (!QFileInfo(settingsPath).isFile())
      return UsageError(err, QStringLiteral("Settings file not found: %1").arg(settingsPath));
  } else if (parser.isSet(settingsOption)) {
    settingsPath = NamedSettingsPath(appDir, parser.value(settingsOption));
    if (!QFileInfo(settingsPath).isFile())
      return UsageError(err, QStringLiteral("Named settings not found: %1 (%2)")
                                 .arg(parser.value(settingsOption), settingsPath));
  } else {
    settingsPath = NamedSettingsPath(appDir, ReadSetupIni(appDir).SelSettings);
  }
  JobSettings settings = LoadSettingsFile(settingsPath, appDir);
  QStringList overrides = parser.values(setOption);
  // An empty destination would be the root folder; from a script it is a forgotten variable.
  if (parser.isSet(outputOption) && parser.value(outputOption).trimmed().isEmpty())
    return UsageError(err, QStringLiteral("--output needs a folder."));
  if (parser.isSet(outputOption))
    overrides << QStringLiteral("OutputFolder=") + parser.value(outputOption);
  for (const QString& assignment : overrides) {
    const qsizetype eq = assignment.indexOf(QLatin1Char('='));
    const QString key = assignment.left(eq).trimmed();
    const FieldInfo* field = eq < 0 ? nullptr : FindField(key);
    if (!field) return UsageError(err, QStringLiteral("Unknown settings key: %1").arg(key));
    if (!settings.SetFromSettingsText(field->Id, assignment.mid(eq + 1)))
      return UsageError(err, QStringLiteral("Bad value for %1: %2")
                                 .arg(QLatin1String(field->Key), assignment.mid(eq + 1)));
  }

  // A relative destination is taken from the current folder, as a shell user expects.
  const QString output = settings.Text(JobField::OutputFolder);
  if (!output.isEmpty() && QFileInfo(output).isRelative())
    settings.SetText(JobField::OutputFolder,
                     WithTrailingBackslash(QDir::cleanPath(QFileInfo(output).absoluteFilePath())));

  // The picture list: one folder is scanned, anything else is added as if dropped.
  PictureListModel list;
  BatchJob job;
  const QFileInfo first(paths.first());
  if (paths.size() == 1 && first.isDir()) {
    job.SourceFolder = WithTrailingBackslash(QDir::cleanPath(first.absoluteFilePath()));
    AddPictures(list,
                ScanFolder(job.SourceFolder, parser.value(filterOption), parser.isSet(recursive)));
  } else {
    QStringList absolute;
    for (const QString& path : paths)
      absolute << QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    AddPictures(list, absolute);
  }
  if (list.Count() == 0) {
    err << "No picture to process.\n";
    return kExitUsage;
  }
  job.Paths = list.Paths();
  job.Jobs = jobs;

  ProcessLog log;
  log.SetFileName(appDir + QStringLiteral("Log.dat"));
  job.Log = &log;

  const bool progressBar = !parser.isSet(quiet) && isatty(STDERR_FILENO);
  BatchTerminalHost host(settings, replaceMode, parser.isSet(verbose), progressBar);
  BatchTerminalHost::InstallInterruptHandler();

  int status = kExitOk;
  try {
    const BatchOutcome outcome = RunBatch(host, job);
    if (outcome.How == BatchOutcome::End::Refused)
      status = kExitUsage;
    else if (outcome.How == BatchOutcome::End::Interrupted || outcome.Failed > 0)
      status = kExitFailed;
  } catch (const QuillomarError& e) {
    err << e.Text() << "\n";
    status = kExitFailed;
  } catch (const std::exception& e) {
    err << QString::fromLocal8Bit(e.what()) << "\n";
    status = kExitFailed;
  }

  if (parser.isSet(save)) {
    try {
      SaveSettingsFile(settingsPath, host.Job());
    } catch (const QuillomarError& e) {
      err << e.Text() << "\n";
      if (status == kExitOk) status = kExitFailed;
    }
  }
  return status;
}
