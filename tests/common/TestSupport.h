#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>

#include "imaging/Codec.h"

// Helpers shared by the tests.

// Folders of the source tree, its test fixtures and the build tree.
QString SourceDir();
QString FixturePath(const QString& name);
QString BinaryDir();

// The bytes of a QByteArray as the view the codecs read (valid while bytes lives).
ByteView View(const QByteArray& bytes);

// A whole file's bytes; empty when it cannot be read.
QByteArray ReadAll(const QString& path);

// Writes bytes as the whole file; false when that fails.
bool WriteFile(const QString& path, const QByteArray& bytes);

// What the process writes to its standard error while f runs. An exception from f is passed
// on after standard error is restored. Readers must print nothing.
QByteArray StderrOf(const std::function<void()>& f);

// The system's Python, which has Pillow (python3-pil); the user's own python3 may not.
QString SystemPython();

struct ProcessResult {
  int ExitCode = -1;
  QByteArray Out;
  QByteArray Err;
};

// Runs a program and waits for it (up to timeoutMs).
ProcessResult RunProgram(const QString& program, const QStringList& args, int timeoutMs = 120000);

// Runs a Python script with the system Python; args become sys.argv[1:].
ProcessResult RunPython(const QString& script, const QStringList& args = {});

// Decodes a file with Pillow, independently of our codecs, as 24-bit RGB (Format_RGB888).
// Returns a null image when Pillow cannot read the file; *error then holds its message.
QImage DecodeWithPillow(const QString& path, QString* error = nullptr);

// Largest difference of one colour channel between two pictures, compared as RGB; -1 when
// their sizes differ or either is null.
int MaxChannelDifference(const QImage& a, const QImage& b);

// Mean absolute difference of the colour channels of two pictures, compared as RGB; infinity
// when their sizes differ or either is null, so that no limit accepts it.
double MeanChannelDifference(const QImage& a, const QImage& b);

// A deterministic photo-like test picture (smooth gradients with fine detail) in
// Format_BGR888.
QImage MakeTestPicture(int width, int height);

// A Format_Indexed8 picture of colours palette entries, every entry in use when the picture is
// large enough.
QImage MakeIndexed(int width, int height, int colours);

// A Format_BGR888 picture made of the given colours only, in a diagonal pattern.
QImage MakeFewColours(int width, int height, const QList<QRgb>& colours);

// A uniform 24-bit picture.
Picture SolidPicture(int width, int height, QColor color);

// The smallest rectangle holding every pixel where two pictures of one size differ; empty when
// they are the same.
QRect ChangedRect(const QImage& before, const QImage& after);
