#pragma once
// Reader and writer of an INI profile file ("[section]" lines followed by "key=value" lines),
// one key at a time, with the semantics the settings file needs:
//  - section and key names match without regard to ASCII letter case; the first matching section
//    and, in it, the first matching key count; values are read with blanks and tabs trimmed;
//  - writing a key replaces its line in place or appends it after the last non-blank line of its
//    section; a missing section is appended at the end, a missing file is created;
//  - every other byte of the file is kept as it was (comments, other sections, odd lines, binary
//    junk); new lines take the file's line-end style (CRLF when its first line ends so, else LF);
//  - every write replaces the file atomically (temporary file in the same folder, fsync, rename),
//    so the file is always either the old or the new content, also after a crash or a full disk;
//  - a file that is not a regular file, unreadable, binary or huge never fails a read: what can
//    be read is used and missing keys give the defaults. Memory use does not grow with the file.
// Each call opens the file, does its work and closes it again; no state is kept in between.

#include <cstdint>
#include <stdexcept>
#include <string>

// Raised when the file cannot be written; what() is "Unable to write to <path>".
class IniWriteError : public std::runtime_error {
  public:
    explicit IniWriteError(const std::string& path);
};

class IniProfile {
  public:
    explicit IniProfile(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // The trimmed value, or `fallback` when the file, section or key is missing.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fallback) const;
    // The value as a whole number (see ParseIniInteger), or `fallback`.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t fallback) const;

    // Throw IniWriteError when the file cannot be replaced; it is then left unchanged.
    void WriteString(const std::string& section, const std::string& key,
                     const std::string& value) const;
    void WriteInteger(const std::string& section, const std::string& key, int32_t value) const;

  private:
    std::string path_;
};

// Decimal with an optional sign, or hexadecimal behind "0x"/"0X"; the value must lie in the
// 32-bit signed range. False (value untouched) for anything else, the empty text included.
bool ParseIniInteger(const std::string& text, int32_t& value);
