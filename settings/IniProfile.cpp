#include "settings/IniProfile.h"

#include "settings/IniFile.h"
#include "base/FileAccess.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <vector>

namespace {

// Only this much of a line is looked at; longer lines can hold no key the program reads and
// are copied through untouched.
constexpr size_t kMaxLineKept = 4096;
constexpr size_t kChunk = 64 * 1024;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s) {
    size_t begin = 0, end = s.size();
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    while (end > begin && IsBlank(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

struct Line {
    uint64_t offset = 0;
    uint64_t length = 0; // terminator included
    std::string text;    // without terminator, at most kMaxLineKept bytes
    bool truncated = false;
    bool terminated = false;
    bool crlf = false;
};

// Calls `visit(line)` for every line of the file, in order; stops when it returns false.
// A read error ends the file there and gives false.
template <typename Visit> bool ScanLines(ReadOnlyFile& file, Visit visit) {
    std::vector<char> buffer(kChunk);
    Line line;
    uint64_t pos = 0;
    bool pendingCr = false; // the last byte kept of the line so far is a CR
    auto finish = [&](bool terminated) {
        line.terminated = terminated;
        line.length = pos - line.offset;
        bool go = visit(line);
        line = Line();
        line.offset = pos;
        pendingCr = false;
        return go;
    };
    bool ok = true;
    for (;;) {
        const int64_t n = file.Read(buffer.data(), buffer.size());
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (int64_t i = 0; i < n; ++i) {
            char c = buffer[size_t(i)];
            ++pos;
            if (c == '\n') {
                if (pendingCr && !line.truncated) {
                    line.text.pop_back();
                    line.crlf = true;
                } else if (pendingCr) {
                    line.crlf = true;
                }
                if (!finish(true)) return true;
                continue;
            }
            pendingCr = c == '\r';
            if (line.text.size() < kMaxLineKept)
                line.text.push_back(c);
            else
                line.truncated = true;
        }
    }
    if (pos > line.offset) finish(false);
    return ok;
}

enum class Kind { Section, Key, Other };

struct Parsed {
    Kind kind = Kind::Other;
    std::string name; // section or key name
    std::string value;
};

Parsed ParseLine(const Line& line) {
    Parsed p;
    if (line.truncated) return p;
    const std::string text = Trim(line.text);
    if (text.empty() || text[0] == ';') return p;
    if (text[0] == '[') {
        size_t close = text.find(']');
        p.kind = Kind::Section;
        p.name = Trim(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        return p;
    }
    size_t eq = text.find('=');
    if (eq == std::string::npos) return p;
    p.kind = Kind::Key;
    p.name = Trim(text.substr(0, eq));
    p.value = Trim(text.substr(eq + 1));
    return p;
}

// Where a key is in the file, and where it would go.
struct Plan {
    bool sectionFound = false;
    bool keyFound = false;
    uint64_t keyOffset = 0, keyLength = 0;
    bool keyTerminated = false;
    bool keyCrlf = false;
    uint64_t appendAt = 0; // after the last non-blank line of the section
    bool appendAfterUnterminated = false;
    uint64_t size = 0;
    bool lastUnterminated = false;
    std::optional<bool> fileCrlf; // style of the first terminated line
    std::string value;
    bool readError = false;
};

Plan Locate(ReadOnlyFile& file, const std::string& section, const std::string& key,
            bool stopAtKey) {
    Plan plan;
    enum { Before, Inside, After } where = Before;
    plan.readError = !ScanLines(file, [&](const Line& line) {
        plan.size = line.offset + line.length;
        plan.lastUnterminated = !line.terminated;
        if (line.terminated && !plan.fileCrlf) plan.fileCrlf = line.crlf;
        if (where == After) return true;
        const Parsed p = ParseLine(line);
        if (p.kind == Kind::Section) {
            if (where == Inside) {
                where = After;
                return true;
            }
            if (SameName(p.name, section)) {
                where = Inside;
                plan.sectionFound = true;
                plan.appendAt = line.offset + line.length;
                plan.appendAfterUnterminated = !line.terminated;
            }
            return true;
        }
        if (where != Inside) return true;
        if (p.kind == Kind::Key && !plan.keyFound && SameName(p.name, key)) {
            plan.keyFound = true;
            plan.keyOffset = line.offset;
            plan.keyLength = line.length;
            plan.keyTerminated = line.terminated;
            plan.keyCrlf = line.crlf;
            plan.value = p.value;
            if (stopAtKey) return false;
        }
        if (line.truncated || !Trim(line.text).empty()) {
            plan.appendAt = line.offset + line.length;
            plan.appendAfterUnterminated = !line.terminated;
        }
        return true;
    });
    return plan;
}

// Copies bytes [from, to) of the source to the replacement.
bool CopyRange(ReadOnlyFile& src, IniReplacement& dst, uint64_t from, uint64_t to) {
    std::vector<char> buffer(kChunk);
    while (from < to) {
        size_t want = size_t(std::min<uint64_t>(buffer.size(), to - from));
        const int64_t n = src.ReadAt(buffer.data(), want, from);
        if (n <= 0) return false;
        if (!dst.Write(buffer.data(), size_t(n))) return false;
        from += uint64_t(n);
    }
    return true;
}

} // namespace

IniWriteError::IniWriteError(const std::string& path)
    : std::runtime_error("Unable to write to " + path) {}

bool ParseIniInteger(const std::string& text, int32_t& value) {
    if (text.empty()) return false;
    int64_t result = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        for (size_t i = 2; i < text.size(); ++i) {
            char c = text[i];
            int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
            if (digit < 0) return false;
            result = result * 16 + digit;
            if (result > INT32_MAX) return false;
        }
        value = int32_t(result);
        return true;
    }
    size_t i = 0;
    bool negative = false;
    if (text[0] == '-' || text[0] == '+') {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size()) return false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        result = result * 10 + (c - '0');
        if (result > int64_t(INT32_MAX) + 1) return false;
    }
    if (negative) result = -result;
    if (result < INT32_MIN || result > INT32_MAX) return false;
    value = int32_t(result);
    return true;
}

std::string IniProfile::ReadString(const std::string& section, const std::string& key,
                                   const std::string& fallback) const {
    ReadOnlyFile file(path_);
    if (!file.IsOpen()) return fallback;
    Plan plan = Locate(file, section, key, true);
    return plan.keyFound ? plan.value : fallback;
}

int32_t IniProfile::ReadInteger(const std::string& section, const std::string& key,
                                int32_t fallback) const {
    int32_t value = fallback;
    if (ParseIniInteger(ReadString(section, key, std::string()), value)) return value;
    return fallback;
}

void IniProfile::WriteInteger(const std::string& section, const std::string& key,
                              int32_t value) const {
    WriteString(section, key, std::to_string(value));
}

void IniProfile::WriteString(const std::string& section, const std::string& key,
                             const std::string& value) const {
    const std::string target = IniWriteTarget(path_);
    const auto fail = [this]() -> void { throw IniWriteError(path_); };

    const IniTargetKind kind = IniTargetKindOf(target);
    const bool exists = kind != IniTargetKind::Missing;
    if (kind == IniTargetKind::Other)
        fail(); // never replace a directory, device or FIFO by a plain file
    std::optional<ReadOnlyFile> src;
    Plan plan;
    if (exists) {
        src.emplace(target);
        if (!src->IsOpen()) fail();
        plan = Locate(*src, section, key, false);
        if (plan.readError) fail(); // rewriting would lose the part that could not be read
    }
    const std::string eol = plan.fileCrlf.value_or(false) ? "\r\n" : "\n";
    const std::string entry = key + "=" + value;

    // What goes where: bytes [0, cut) of the old file, then `insert`, then [resume, size).
    uint64_t cut = plan.size, resume = plan.size;
    std::string insert;
    if (plan.keyFound) {
        cut = plan.keyOffset;
        resume = plan.keyOffset + plan.keyLength;
        insert = entry + (plan.keyTerminated ? (plan.keyCrlf ? "\r\n" : "\n") : "");
    } else if (plan.sectionFound) {
        cut = resume = plan.appendAt;
        insert = (plan.appendAfterUnterminated ? eol : "") + entry + eol;
    } else {
        insert = (plan.lastUnterminated ? eol : "") + "[" + section + "]" + eol + entry + eol;
    }

    IniReplacement out(target);
    if (!out.Valid()) fail();
    const bool ok = (!exists || CopyRange(*src, out, 0, cut)) &&
                    out.Write(insert.data(), insert.size()) &&
                    (!exists || CopyRange(*src, out, resume, plan.size)) && out.Commit();
    if (!ok) fail();
}
