#pragma once

// Ordering of update versions as feeds write them ("1.2", "1.10", "2.0b3", "3.3 (5847)").

#include <QStringView>

#include <compare>

namespace velmora::updates {

// Compares two version strings the way the update framework's standard comparator does, as a
// strict weak ordering on every input.
//
// A dash after the first character ends the version: what follows is a build or commit note
// ("1.5.5-335d3e2" == "1.5.5-a655360"). The rest is read in two parts:
//
// - The release: the leading digits and periods ("1.0.2" of "1.0.2b3 (77)"), a list of numbers
//   compared by value (1.10 > 1.9, however long). Missing and trailing parts count as zero, so
//   "1.0" == "1.0.0" and "1.5b1" == "1.5.0b1". An empty part counts as zero too ("1..2" is
//   "1.0.2", ".5" is "0.5").
// - The remainder, read as runs of digits (a number), runs of other characters (a word) and
//   single separators (white space and punctuation, all alike), compared run by run: numbers by
//   value, words as text, and across kinds word < end of version < separator < number. So a
//   word makes a pre-release (1.0b1 < 1.0 < 1.0 (1234)), and whatever follows a version makes
//   it newer unless it is a word.
//
// Versions that compare equivalent may still differ as text ("1.0" and "1.0.0").
std::weak_ordering compareVersions(QStringView a, QStringView b);

} // namespace velmora::updates
