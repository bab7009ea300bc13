#pragma once

// Ordering of update versions as feeds write them ("1.2", "1.10", "2.0b3", "2.0rc1").

#include <QStringView>

#include <compare>

namespace velmora::updates {

// Compares two version strings the way update feeds expect.
//
// A version is read as runs of digits, of other characters (letters) and of separators
// (period, white space, punctuation). Runs are compared pair by pair: numbers by value
// (so 1.10 > 1.9, however long), letter runs as text, and a letter run sorts before a number
// or a separator, which makes pre-releases come first: 1.0a1 < 1.0b1 < 1.0rc1 < 1.0. When
// one version runs out, the rest of the longer one decides: trailing zero parts and
// separators change nothing (1.0 == 1.0.0), a further number makes it newer (1.0 < 1.0.1),
// a further letter run makes it older (1.0b < 1.0).
//
// Versions that compare equivalent may still differ as text ("1.0" and "1.0.0").
std::weak_ordering compareVersions(QStringView a, QStringView b);

} // namespace velmora::updates
