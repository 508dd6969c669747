#pragma once

#include <QString>

#include "settings/JobSettings.h"

// The two kinds of settings file: Setup.ini in AppDir (which named settings are current, and
// the main window's size) and the named settings files in DataDir (every JobSettings field).
// Both are INI files with the one section "Setup".

// The start-up values kept in Setup.ini.
struct SetupValues {
  QString SelSettings = QStringLiteral("Default(640x480)");  // current named settings
  int WinWidth = 720;   // outer width of the main window, pixels
  int WinHeight = 590;  // outer height, pixels
  int WinState = 0;     // 0 normal, 1 minimised, 2 maximised
};

// Reads Setup.ini of appDir (a folder path; with or without the final separator). A missing or
// damaged file gives the defaults; never fails.
SetupValues ReadSetupIni(const QString& appDir);

// Writes the values into Setup.ini of appDir, keeping unknown keys and sections. Throws
// QuillomarError when the file cannot be written.
void WriteSetupIni(const QString& appDir, const SetupValues& values);

// Reads every field from the named settings file at path, in the key order of the table; a
// missing key, a bad value or a missing file gives the field's default (appDir gives the
// default "WmImage"). Never fails.
JobSettings LoadSettingsFile(const QString& path, const QString& appDir);

// Writes every field into the file at path, creating it when missing and keeping keys and
// sections it does not know. Throws QuillomarError when the file cannot be written.
void SaveSettingsFile(const QString& path, const JobSettings& settings);

// The path of a named settings file: appDir + "Data/" + name + ".set".
QString NamedSettingsPath(const QString& appDir, const QString& name);
