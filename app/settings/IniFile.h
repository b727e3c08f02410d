// The settings file store: an INI-style file in CP932 with CR LF lines, read and rewritten one
// key per call. Section and key are compared in upper case, the key as a prefix of the line.
// Text in and out is UTF-8. Both calls open, scan and close the file; there is no cache.
// Callers: the window thread and the config command (one process at a time per call; writes
// from several processes are serialised by a lock on the folder).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Values are read into 256 bytes: at most 255 bytes of a value survive a restart.
inline constexpr std::size_t kIniValueBufferSize = 256;

// The value of key in the first section named section, or def when the file, the section or
// the key is missing. The value is cut to size - 1 bytes of the file's CP932 text (a double-
// byte character cut in two loses its first half) and returned in UTF-8.
std::string IniReadString(std::string_view section, std::string_view key, std::string_view def,
                          const std::string& file, std::size_t size = kIniValueBufferSize);

// The same, giving the CP932 bytes as they stand in the file (cut to size - 1 bytes).
std::string IniReadRaw(std::string_view section, std::string_view key, std::string_view defCp932,
                       const std::string& file, std::size_t size = kIniValueBufferSize);

// Sets key to value in section, creating the section and the file when needed. The new content
// goes to a temporary file in the same folder which then replaces the settings file, so a crash
// leaves either the old or the new file. False (and one line on standard error) when the file
// cannot be written; the old file then stays as it was. The file gets mode 0600. A file without
// write permission is never replaced: false with errno EACCES (said once per process).
bool IniWriteString(std::string_view section, std::string_view key, std::string_view value,
                    const std::string& file);

// The same with CP932 section, key and value.
bool IniWriteRaw(std::string_view section, std::string_view key, std::string_view value,
                 const std::string& file);

// The pure rewrite behind IniWriteRaw: the new file content for the old content (CP932 bytes,
// hasOld false when there was no file). Exposed for tests and the fuzzer.
std::string IniRewrite(std::string_view oldContent, bool hasOld, std::string_view section,
                       std::string_view key, std::string_view value);

// The pure lookup behind IniReadRaw: the value found in content, or nothing (false).
bool IniLookup(std::string_view content, std::string_view section, std::string_view key,
               std::string* value);
