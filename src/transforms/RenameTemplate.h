#pragma once

#include <QDateTime>
#include <QString>

// The new file name that the rename template gives for a source file name (a path is allowed;
// only its name part is used) and a counter. The result ends with the source's extension. An
// empty template gives the name unchanged.
//
// The template language, applied in this order:
//   "{filename}"  the source name without its extension (put in first, so that characters of
//                 the source name take part in the steps below),
//   "{ext}"       the source extension without its dot,
//   "#" runs      the first run of n "#" sets n; the counter, zero-padded to at least n
//                 digits, replaces every string of n "#" from the left,
//   "{DATE:YY_MM_DD}" dd_mm_yy, "{DATE:YYYY_MM_DD}" yyyy_mm_dd_, "{DATE:YYMMDD}" yymmdd,
//   "{DATE:YYYYMMDD}" yyyymmdd, "{TIME:hh_mm}" hh_nn, "{TIME:hh_mm_ss}" hh_nn_ss,
//   "{TIME:hhmm}" hhnn, "{TIME:hhmmss}" hhnnss (24-hour clock, leading zeros).
// Matching is exact and case-sensitive. The date and time are the current local ones.
QString MakeNewName(const QString& nameTemplate, const QString& fileName, int counter);

// The same with the date and time given (for tests and for callers that fix the moment).
QString MakeNewName(const QString& nameTemplate, const QString& fileName, int counter,
                    const QDateTime& now);

// The text with every occurrence of pattern replaced, scanning from the left; text brought in
// by a replacement is never searched again. Exact, case-sensitive comparison. An empty pattern
// changes nothing.
QString ReplaceAll(const QString& text, const QString& pattern, const QString& replacement);
