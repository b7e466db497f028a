#pragma once

// Where a downloaded song is saved by default: a file named after its title and author, in a
// folder the user can write to.

#include "text/text.h"

#include <QString>
#include <QStringList>

namespace zorvik {

// "/" + title + "-" + author + ".mp3", made safe to use as one file name: path separators,
// control characters, ".." and a leading "." become "_", so the file always lands in the
// folder it is put in; a name too long for the file system is cut on a character boundary
// (the ".mp3" stays).
Text song_file_name(const Text& title, const Text& author);

// The first of `candidates` that is an existing folder this process may write to; the last
// candidate when none is. Without a trailing "/" (the root folder gives "").
QString first_writable_folder(const QStringList& candidates);

// The run directory, else the user's music folder, else the home folder.
QString default_save_folder();

// `folder` followed by `file_name` (a song_file_name); `folder` defaults to
// default_save_folder().
QString default_save_place(const Text& file_name, const QString& folder = default_save_folder());

} // namespace zorvik
