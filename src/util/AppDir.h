#pragma once

#include <QString>

// The program's data folder (AppDir): Setup.ini, Log.dat, the temporary output files, and
// Data/ with the named settings files and the placeholder and logo pictures. Always ends with
// the separator.
//
// Resolution, first match wins:
//  1. explicitDir (the --appdir option) when not empty;
//  2. the environment variable QUILLOMAR_APPDIR when set;
//  3. the program's own folder when it holds Data/ and is writable (a build tree or a portable
//     installation);
//  4. the per-user data folder (~/.local/share/Quillomar/), created when missing and seeded
//     with the files of the installed Data/ folder that it does not have yet.
// The folders of 1 and 2 are created when missing. Never fails; a folder that cannot be created
// is still returned, and later writes there fail.
QString ResolveAppDir(const QString& explicitDir = {});

// The installed Data/ folder that seeds a new per-user AppDir: the first of
// <program folder>/Data, <program folder>/../share/quillomar/Data that exists; empty when none.
QString InstalledDataDir();
