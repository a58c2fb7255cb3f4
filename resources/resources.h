#pragma once

#include <QPixmap>
#include <QString>
#include <QStringList>

// The pictures and sounds compiled into the program, under :/images/ and :/sounds/.
// Linking pipshift_resources is enough to see them; no call is needed at start-up.

// The eight sound cues that have a sound of their own, in lower case ("click", "entered", ...).
QStringList resourcecuenames();

// The resource path of a cue's sound (":/sounds/click.wav"), whatever the case of the name;
// empty when the cue has no sound of its own (e.g. "startgame").
QString resourcecuepath(const QString& name);

// A picture of ours (":/images/logo.png"), decoded once and shared by all that show it; a null
// picture when there is none by that name. Ours are all PNG, so no other image format is tried:
// guessing would load every image format plugin installed.
QPixmap resourcepicture(const QString& path);
