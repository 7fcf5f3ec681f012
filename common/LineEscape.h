#pragma once

#include <QString>

// One line of text for a reader that splits records at any line break and
// fields at tabs (the relink log, zuldb's output). A backslash starts every
// escape, so the text reads back unambiguously:
//   \\  backslash            \t  tab               \n  line feed
//   \r  carriage return      \v  vertical tab      \f  form feed
//   \uXXXX  any other control character (U+0000..U+001F, U+007F..U+009F,
//           U+0085 next line among them), the line separator U+2028 and the
//           paragraph separator U+2029, as four hexadecimal digits.
// Everything else stays as it is.
QString escapeLine(const QString& text);
// The text escapeLine was given.
QString unescapeLine(const QString& line);
