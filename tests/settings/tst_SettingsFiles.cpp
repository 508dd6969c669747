#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "common/TestSupport.h"
#include "settings/IniFile.h"
#include "settings/JobSettings.h"
#include "settings/SettingsFiles.h"
#include "util/Errors.h"
#include "util/PathText.h"

// The job settings value, its field table and the two settings files.
class TestSettingsFiles : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir Dir;

  QString WriteFile(const QString& name, const QByteArray& bytes) {
    const QString path = Dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write fixture");
    f.write(bytes);
    return path;
  }

  QByteArray ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
  }

 private slots:
  void FieldTableHoldsEveryKeyOnceInFileOrder() {
    QCOMPARE(JobFields().size(), std::size_t(43));
    QStringList keys;
    for (const FieldInfo& f : JobFields()) keys << QLatin1String(f.Key);
    QCOMPARE(keys.removeDuplicates(), 0);
    QCOMPARE(keys.first(), QStringLiteral("InitDir"));
    QVERIFY(keys.indexOf(QStringLiteral("RsHeight")) + 1 ==
            keys.indexOf(QStringLiteral("RsWidth")));
    QCOMPARE(keys.last(), QStringLiteral("FontPitch"));
    QCOMPARE(FindField(QStringLiteral("rswidth"))->Id, JobField::RsWidth);
    QVERIFY(FindField(QStringLiteral("NoSuchKey")) == nullptr);
  }

  // A file without keys gives the documented defaults.
  void EmptyFileGivesDefaults() {
    const JobSettings s =
        LoadSettingsFile(Dir.filePath(QStringLiteral("missing.set")), QStringLiteral("/opt/q/"));
    QVERIFY(s.On(JobField::ResizeChecked));
    QCOMPARE(s.Int(JobField::RsWidth), 640);
    QCOMPARE(s.Int(JobField::RsHeight), 480);
    QCOMPARE(s.ChoiceText(JobField::RsMode), QStringLiteral("Fill"));
    QCOMPARE(s.ChoiceText(JobField::RsType), QStringLiteral("Use width and height(keep aspect)"));
    QCOMPARE(s.ChoiceText(JobField::Filter), QStringLiteral("Nearest(recommend)"));
    QVERIFY(!s.On(JobField::WatermarkChecked));
    QCOMPARE(s.Text(JobField::WmText), QStringLiteral("Your Watermarking"));
    QCOMPARE(s.Text(JobField::FontName), QStringLiteral("Arial"));
    QCOMPARE(s.Int(JobField::FontSize), 28);
    QCOMPARE(s.Int(JobField::FontStyle), 1);
    QCOMPARE(s.Int(JobField::FontColor), 16777215);
    QCOMPARE(s.ChoiceText(JobField::WmPosit), QStringLiteral("Bottom and Right"));
    QCOMPARE(s.Int(JobField::WmTrans), 60);
    QVERIFY(!s.On(JobField::RenameChecked));
    QCOMPARE(s.Text(JobField::RnMask), QStringLiteral("newname_####"));
    QCOMPARE(s.Int(JobField::StartNo), 1);
    QCOMPARE(s.ChoiceText(JobField::OutputFormat), QStringLiteral("JPG (*.jpg)"));
    QCOMPARE(s.ChoiceText(JobField::JPEGQuality), QStringLiteral("80"));
    QCOMPARE(s.Int(JobField::PNGComp), 9);
    QCOMPARE(s.ChoiceText(JobField::ChangeCase), QStringLiteral("Do not change"));
    QVERIFY(s.On(JobField::KeepDateTime));
    QCOMPARE(s.Text(JobField::WmImage), QStringLiteral("/opt/q/Data/dontcopy.png"));
    QCOMPARE(s.Text(JobField::OutputFolder), DefaultOutputFolder());
    QCOMPARE(s.Text(JobField::InitDir), DefaultInitDir());
    QVERIFY(s.Text(JobField::InitDir).endsWith(PathSeparator()));
  }

  // Values as stored in a settings file, and what the field then holds.
  void StoredValues_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("quality 18 is 100") << "JPEGQuality"
                                       << "18" << 18;
    QTest::newRow("quality 19 selects nothing") << "JPEGQuality"
                                                << "19" << -1;
    QTest::newRow("choice -5 selects nothing") << "RsMode"
                                               << "-5" << -1;
    QTest::newRow("width 0 shows 2") << "RsWidth"
                                     << "0" << 2;
    QTest::newRow("width 20000 shows 9999") << "RsWidth"
                                            << "20000" << 9999;
    QTest::newRow("angle -500 shows -360") << "WmAngle"
                                           << "-500" << -360;
    QTest::newRow("hex colour") << "WmBgColor"
                                << "0xFF" << 255;
    QTest::newRow("hex upper X") << "FontColor"
                                 << "0X10" << 16;
    QTest::newRow("bare 0x is not a number") << "RsWidth"
                                             << "0x" << 640;
    QTest::newRow("not a number keeps default") << "RsWidth"
                                                << "wide" << 640;
    QTest::newRow("fraction keeps default") << "RsWidth"
                                            << "800.5" << 640;
    QTest::newRow("empty number keeps default") << "NewDPI"
                                                << "" << 72;
    QTest::newRow("empty switch keeps default") << "ResizeChecked"
                                                << "" << 1;
    QTest::newRow("switch any non-zero is on") << "WatermarkChecked"
                                               << "7" << 1;
    QTest::newRow("switch bad keeps default") << "KeepDateTime"
                                              << "yes" << 1;
    QTest::newRow("overflow keeps default") << "StartNo"
                                            << "99999999999" << 1;
    QTest::newRow("start number at the top") << "StartNo"
                                             << "100000" << 99999;
  }
  void StoredValues() {
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(int, expected);
    const QString path =
        WriteFile(QStringLiteral("v.set"), ("[Setup]\r\n" + key + "=" + value + "\r\n").toUtf8());
    const JobSettings s = LoadSettingsFile(path, Dir.path());
    QCOMPARE(s.Int(FindField(key)->Id), expected);
  }

  void ChoiceOutsideListIsSavedAsMinusOne() {
    JobSettings s = JobSettings::Defaults(Dir.path());
    s.SetInt(JobField::JPEGQuality, 19);
    const QString path = Dir.filePath(QStringLiteral("minus.set"));
    SaveSettingsFile(path, s);
    QVERIFY(ReadFile(path).contains("JPEGQuality=-1\r\n"));
    QCOMPARE(LoadSettingsFile(path, Dir.path()).Int(JobField::JPEGQuality), -1);
  }

  void SpinText_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("expected");
    QTest::newRow("empty reads as minimum") << "" << 2;
    QTest::newRow("letters read as minimum") << "abc" << 2;
    QTest::newRow("in range") << "800" << 800;
    QTest::newRow("cut to four characters") << "123456" << 1234;
    QTest::newRow("clamped low") << "1" << 2;
  }
  void SpinText() {
    QFETCH(QString, typed);
    QFETCH(int, expected);
    JobSettings s = JobSettings::Defaults(Dir.path());
    s.SetSpinText(JobField::RsWidth, typed);
    QCOMPARE(s.Int(JobField::RsWidth), expected);
  }

  void StartNumberStopsAtItsMaximum() {
    JobSettings s = JobSettings::Defaults(Dir.path());
    s.SetInt(JobField::StartNo, 99998);
    s.AdvanceStartNo();
    QCOMPARE(s.Int(JobField::StartNo), 99999);
    s.AdvanceStartNo();
    QCOMPARE(s.Int(JobField::StartNo), 99999);
  }

  // Lower-case section and keys, blanks around "=", a text with blanks, comments, hex.
  void LenientFileLoads() {
    const QString path = WriteFile(QStringLiteral("lenient.set"),
                                   "junk before any section\r\n"
                                   "; a comment\r\n"
                                   "  [ setup ]  \r\n"
                                   "  rswidth   =   800  \r\n"
                                   "RSHEIGHT=600\n"
                                   "wmtext =   two words   \r\n"
                                   "RnMask=a=b\r\n"
                                   "no equals sign here\r\n"
                                   "OutputFormat=2\r");
    const JobSettings s = LoadSettingsFile(path, Dir.path());
    QCOMPARE(s.Int(JobField::RsWidth), 800);
    QCOMPARE(s.Int(JobField::RsHeight), 600);
    QCOMPARE(s.Text(JobField::WmText), QStringLiteral("two words"));
    QCOMPARE(s.Text(JobField::RnMask), QStringLiteral("a=b"));
    QCOMPARE(s.Int(JobField::OutputFormat), 2);
  }

  void EmptyTextValueIsEmpty() {
    const QString path = WriteFile(QStringLiteral("empty.set"), "[Setup]\r\nWmText=\r\n");
    QCOMPARE(LoadSettingsFile(path, Dir.path()).Text(JobField::WmText), QString());
  }

  void Windows1252FileLoads() {
    const QString path =
        WriteFile(QStringLiteral("ansi.set"), "[Setup]\r\nWmText=\xA9 Caf\xE9 \x80\r\n");
    QCOMPARE(LoadSettingsFile(path, Dir.path()).Text(JobField::WmText),
             QString::fromUtf8("\u00A9 Caf\u00E9 \u20AC"));
  }

  void Utf8FileLoads() {
    const QString path =
        WriteFile(QStringLiteral("utf8.set"), "\xEF\xBB\xBF[Setup]\r\nWmText=Caf\xC3\xA9\r\n");
    QCOMPARE(LoadSettingsFile(path, Dir.path()).Text(JobField::WmText),
             QString::fromUtf8("Caf\u00E9"));
  }

  // Unknown keys and sections survive a save; comments and blank lines do not; the known keys
  // are written in table order with CR LF line ends.
  void SaveKeepsUnknownKeysAndSections() {
    const QString path = WriteFile(QStringLiteral("keep.set"),
                                   "; comment\r\n[Setup]\r\nMyOwnKey=42\r\nrswidth=800\r\n\r\n"
                                   "[Other]\r\nx = 1\r\n");
    JobSettings s = LoadSettingsFile(path, Dir.path());
    s.SetInt(JobField::RsWidth, 1024);
    SaveSettingsFile(path, s);
    const QString text = QString::fromUtf8(ReadFile(path));
    QVERIFY(!text.contains(QStringLiteral("comment")));
    QVERIFY(text.startsWith(QStringLiteral("[Setup]\r\nMyOwnKey=42\r\nRsWidth=1024\r\n")));
    QVERIFY(text.contains(QStringLiteral("\r\n\r\n[Other]\r\nx = 1\r\n\r\n")));
    QVERIFY(text.indexOf(QStringLiteral("RsHeight=")) < text.indexOf(QStringLiteral("StartNo=")));
    QVERIFY(!text.contains(QRegularExpression(QStringLiteral("[^\r]\n"))));
    const QByteArray rewritten = ReadFile(path);
    QCOMPARE(LoadSettingsFile(path, Dir.path()), s);
    SaveSettingsFile(path, s);
    QCOMPARE(ReadFile(path), rewritten);
  }

  void RoundTripKeepsEveryField() {
    JobSettings s = JobSettings::Defaults(Dir.path());
    s.SetText(JobField::WmText, QString::fromUtf8("Ünïcode > text"));
    s.SetInt(JobField::FontColor, -16777201);
    s.SetInt(JobField::WmAngle, -45);
    s.SetOn(JobField::RenameChecked, true);
    s.SetText(JobField::OutputFolder, QStringLiteral("/tmp/out dir/"));
    const QString path = Dir.filePath(QStringLiteral("round.set"));
    SaveSettingsFile(path, s);
    QCOMPARE(LoadSettingsFile(path, Dir.path()), s);
  }

  // The shipped named settings are the defaults; the folders stay the platform's own.
  void ShippedDefaultSettingsAreTheDefaults() {
    const QString path = SourceDir() + QStringLiteral("/data/Data/Default(640x480).set");
    QVERIFY(QFileInfo(path).isFile());
    QCOMPARE(LoadSettingsFile(path, Dir.path()), JobSettings::Defaults(Dir.path()));
  }

  void SetupIni() {
    QTemporaryDir app;
    SetupValues v = ReadSetupIni(app.path());
    QCOMPARE(v.SelSettings, QStringLiteral("Default(640x480)"));
    QCOMPARE(v.WinWidth, 720);
    QCOMPARE(v.WinHeight, 590);
    QCOMPARE(v.WinState, 0);
    v.SelSettings = QStringLiteral("Web");
    v.WinState = 2;
    v.WinWidth = 100;
    WriteSetupIni(app.path(), v);
    QCOMPARE(QString::fromUtf8(ReadFile(app.filePath(QStringLiteral("Setup.ini")))),
             QStringLiteral("[Setup]\r\nSelSettings=Web\r\nWinWidth=100\r\nWinHeight=590\r\n"
                            "WinState=2\r\n\r\n"));
    const SetupValues back = ReadSetupIni(app.path() + QLatin1Char('/'));
    QCOMPARE(back.SelSettings, QStringLiteral("Web"));
    QCOMPARE(back.WinState, 2);
  }

  void UnwritableFileThrows() {
    QVERIFY_THROWS_EXCEPTION(QuillomarError,
                             SaveSettingsFile(Dir.filePath(QStringLiteral("no/such/dir/x.set")),
                                              JobSettings::Defaults(Dir.path())));
  }

  void TrailingSeparator_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    const QString sep = PathSeparator();
    QTest::newRow("empty") << "" << sep;
    QTest::newRow("appended") << "/a/b"
                              << "/a/b" + sep;
    QTest::newRow("kept") << "/a/b" + sep << "/a/b" + sep;
  }
  void TrailingSeparator() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(WithTrailingBackslash(path), expected);
  }
};

QTEST_GUILESS_MAIN(TestSettingsFiles)
#include "tst_SettingsFiles.moc"
