#pragma once

#include <QString>

// Where the program lives and where it keeps its files. Both end with "/". Ask only once the
// application object exists: the folders come from it.

// The folder of the running executable.
QString programfolder();

// The folder for the settings file and the tally file: the program folder, as the game has
// always kept them, when files can be created there; otherwise (an installed program in a
// system folder) the player's own data folder, created when missing, so that settings and
// scores are never silently lost. Decided once per run, so reading and writing always meet in
// the same place.
QString datafolder();

// The choice datafolder() makes, for a given program folder and fallback folder.
QString datafolderfor(const QString& programdir, const QString& fallbackdir);

// True when a new file can be created (and removed again) in folder.
bool canholdfiles(const QString& folder);
