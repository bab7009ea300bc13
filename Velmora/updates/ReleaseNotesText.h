#pragma once

#include <QString>

namespace velmora::updates {

// Turns a release-notes document into the plain text the update window shows.
namespace ReleaseNotesText {

// The first HTML paragraph of document as plain text: line-break tags become line feeds,
// every other tag vanishes, numeric and the five common named character references are
// decoded, and the ends are trimmed. An empty result means the document held no usable notes.
QString decode(const QString &document);

} // namespace ReleaseNotesText

} // namespace velmora::updates
