// Shift-JIS (code page 932) helpers: the settings file and the daily logs stay CP932 on disk
// while the program works in UTF-8. Every function here is pure and may be called from any
// thread.
#pragma once

#include <string>
#include <string_view>

namespace qv::text {

// UTF-8 -> CP932. A character CP932 cannot hold, or a malformed UTF-8 sequence, becomes "?"
// and *ok (when given) is set to false; otherwise *ok is true.
std::string Utf8ToCp932(std::string_view utf8, bool* ok = nullptr);

// CP932 -> UTF-8. An invalid byte is replaced by U+FFFD; a lone lead byte at the very end (a
// value cut in the middle of a double-byte character) is dropped. Either sets *ok to false.
std::string Cp932ToUtf8(std::string_view cp932, bool* ok = nullptr);

// First byte of a CP932 double-byte character: 0x81-0x9F, 0xE0-0xFC.
bool IsCp932LeadByte(unsigned char c);

// Second byte of a CP932 double-byte character: 0x40-0x7E, 0x80-0xFC.
bool IsCp932TrailByte(unsigned char c);

// Arithmetic Shift-JIS -> JIS X 0208 (lead << 8 | trail in, row << 8 | cell out). 0 for a code
// outside the Shift-JIS ranges or one that has no JIS X 0208 row (user-defined area).
unsigned SjisToJis(unsigned sjisCode);

// ASCII letters upper-cased; double-byte CP932 characters left as they are (their second byte
// may be a lower-case ASCII letter).
std::string Cp932ToUpper(std::string_view cp932);

// Byte offset of the last character of a CP932 text (walking from the start so that a second
// byte is never taken for a character of its own); npos for an empty text.
std::size_t LastCp932CharOffset(std::string_view cp932);

// True when the last character is the separator '/'. A double-byte character is one character.
bool EndsWithSeparator(std::string_view cp932Path);

// folder + '/' + name, without doubling a separator already at the end of folder. An empty
// folder gives name unchanged. Works for CP932 and UTF-8 alike: '/' is never a second byte.
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace qv::text
