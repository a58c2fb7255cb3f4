#pragma once

#include <string>

#include "stats/tallygrid.h"

// The tally file: the tally table as text, compressed into one container file (Fast mode).
//
// The text never touches the disk on its own: it goes through memory, so no file of the player's
// (such as a "temp.txt" in the current directory) is ever overwritten or deleted. A save writes the
// new container beside the old file under a temporary name, forces it to disk and only then
// renames it over the old one, so a failure at any step leaves the previous file as it was.
//
// Paths and messages are bytes in the system's encoding, as the file system takes them.

enum class TallyLoad {
  Loaded,   // the table now holds the file's content
  Missing,  // there is no file; the table is untouched (not an error: the first save makes it)
  Failed,   // the file is damaged or unreadable; the table is untouched and *error says why
};

// Reads the tally file at path into grid. On failure the grid keeps what it held before, and
// *error (when given) receives a message that names the file.
TallyLoad loadtallyfile(const std::string& path, TextTable& grid, std::string* error = nullptr);

// Writes grid to the tally file at path, replacing it only once the new file is complete and on
// disk. Returns false, with *error set when given, and leaves any previous file unchanged when a
// step fails (the temporary file is removed).
bool savetallyfile(const std::string& path, const TextTable& grid, std::string* error = nullptr);

// Where a tally file that failed to load is kept: path followed by ".bad".
std::string damagedtallypath(const std::string& path);

// Copies a tally file that failed to load to damagedtallypath(path), replacing an older copy, so
// the next save cannot destroy what it held. True when the copy is complete and on disk.
bool keepdamagedtally(const std::string& path);
