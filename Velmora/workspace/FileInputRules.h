#pragma once

// Which files a file input of the page may be given: audio and video files, told by their MIME
// type. The input's own list of accepted types is never consulted, so a page cannot widen it
// to text or images.

#include <QString>
#include <QStringList>

namespace velmora::workspace {

// True for an audio or video type (its name, or the name of a type it inherits from, is
// "audio/…" or "video/…").
bool isMediaMimeType(const QString &name, const QStringList &ancestors);

// The file-name patterns of every audio and video type the system's MIME database knows, each
// once, sorted: the filter of a file input's panel.
QStringList mediaNamePatterns();

// The chosen files that are audio or video files as the MIME database reads each one, in
// their order; only the first of them unless the input allows several.
QStringList acceptedMediaFiles(const QStringList &chosen, bool multiple);

} // namespace velmora::workspace
