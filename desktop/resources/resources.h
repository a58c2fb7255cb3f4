#pragma once

#include <QPixmap>
#include <QSize>
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
//
// Every picture is also drawn at twice its size (":/images/logo@2x.png"). Where the screens have
// more than one device pixel to the pixel, the 2x picture is the one given, its devicePixelRatio
// 2, so it shows at the same size, only sharper; at a ratio of 1 it is never decoded.
QPixmap resourcepicture(const QString& path);

// The same for a device of the given ratio of device pixels to pixels.
QPixmap resourcepicture(const QString& path, qreal ratio);

// The picture to show at `size` (in pixels of the layout, for a picture drawn larger than
// designed) on a device of the given ratio: the 1x or the 2x picture as it is where one of them
// has exactly as many device pixels as that, else the finest one resampled smoothly to them. Its
// devicePixelRatio is the ratio, so it covers `size`.
QPixmap resourcepicture(const QString& path, const QSize& size, qreal ratio);

// The property through which a widget that shows one of our pictures names it (its path), so
// that whoever draws the widget larger can give it the picture drawn for that size.
inline constexpr char picturepathproperty[] = "picturepath";
