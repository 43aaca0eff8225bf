#pragma once

#include <algorithm>
#include <cmath>

namespace richedit {

// Lengths in a QTextDocument (margins, indents) are in device-independent pixels at
// 96 dots per inch; RTF measures in twips (1/1440 inch), so one unit is 15 twips.
constexpr double kTwipsPerUnit = 15.0;

// One step of list nesting (QTextDocument's indent width of 40 units) in twips.
constexpr int kListIndentTwips = 600;

inline double twipsToUnits(int twips)
{
    return twips / kTwipsPerUnit;
}

inline int unitsToTwips(double units)
{
    return int(std::lround(units * kTwipsPerUnit));
}

// The list nesting level whose indent comes nearest to a left indent, at least 1.
inline int listIndentForTwips(int leftIndent)
{
    return std::max(1, int(std::lround(double(leftIndent) / kListIndentTwips)));
}

} // namespace richedit
