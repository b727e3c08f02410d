// Base64 on the standard alphabet with the three final-group conventions the program uses:
// the settings text codec (no padding), the padded encoder of header words, and the attachment
// file encoder. Pure functions, callable from any thread.
#pragma once

#include <string>
#include <string_view>

// Every byte of text (zero bytes included); a final group of one or two bytes gives two or
// three characters, without "=" padding.
std::string Base64EncodeText(std::string_view text);

// Four characters at a time, each group giving exactly three bytes. A character outside the
// alphabet ("=" included) and a missing character at the end count as 0, so a text that ended
// in a partial group decodes with one or two trailing zero bytes.
std::string Base64DecodeText(std::string_view text);

// Standard encoding with "=" / "==" padding of the final group (header encoded words).
std::string Base64EncodePadded(std::string_view bytes);

// Writes the padded base64 text of the whole source file, as one line, into the destination
// file, which must already exist: it is opened without being created or truncated and written
// from its start. Returns 1 in every case; when either file cannot be opened nothing is written.
int Base64EncodeFile(const std::string& sourcePath, const std::string& destPath);
