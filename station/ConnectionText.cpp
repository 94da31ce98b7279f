// The connection string's password, found and hidden. Its grammar is ODBC's: KEY=VALUE pairs
// split by ';', a value in braces may hold ';' and '}}' stands for '}'.
#include "station/Database.h"

#include <cctype>

namespace station {

namespace {

struct Pair {
    std::string Key; // as written
    size_t ValueStart = 0, ValueEnd = 0;
};

std::vector<Pair> Pairs(const std::string& text) {
    std::vector<Pair> pairs;
    size_t i = 0;
    while (i < text.size()) {
        Pair pair;
        const size_t equals = text.find('=', i);
        const size_t semicolon = text.find(';', i);
        if (equals == std::string::npos || (semicolon != std::string::npos && semicolon < equals)) {
            i = semicolon == std::string::npos ? text.size() : semicolon + 1;
            continue;
        }
        pair.Key = text.substr(i, equals - i);
        size_t end = equals + 1;
        if (end < text.size() && text[end] == '{') {
            for (++end; end < text.size(); ++end)
                if (text[end] == '}') {
                    if (end + 1 < text.size() && text[end + 1] == '}')
                        ++end;
                    else
                        break;
                }
            end = end < text.size() ? end + 1 : end;
        }
        end = std::min(text.find(';', end), text.size());
        pair.ValueStart = equals + 1;
        pair.ValueEnd = end;
        pairs.push_back(pair);
        i = end + 1;
    }
    return pairs;
}

bool IsPasswordKey(std::string key) {
    std::string upper;
    for (unsigned char c : key)
        if (!std::isspace(c)) upper += char(std::toupper(c));
    return upper == "PWD" || upper == "PASSWORD";
}

} // namespace

std::string MaskedConnection(const std::string& connection) {
    std::string masked = connection;
    const std::vector<Pair> pairs = Pairs(connection);
    for (auto it = pairs.rbegin(); it != pairs.rend(); ++it)
        if (IsPasswordKey(it->Key))
            masked.replace(it->ValueStart, it->ValueEnd - it->ValueStart, "***");
    return masked;
}

std::string ConnectionPassword(const std::string& connection) {
    for (const Pair& pair : Pairs(connection)) {
        if (!IsPasswordKey(pair.Key)) continue;
        std::string value = connection.substr(pair.ValueStart, pair.ValueEnd - pair.ValueStart);
        if (value.size() >= 2 && value.front() == '{' && value.back() == '}')
            value = value.substr(1, value.size() - 2);
        std::string plain;
        for (size_t i = 0; i < value.size(); ++i) {
            plain += value[i];
            if (value[i] == '}' && i + 1 < value.size() && value[i + 1] == '}') ++i;
        }
        return plain;
    }
    return {};
}

std::string HidePassword(std::string message, const std::string& password) {
    if (password.empty()) return message;
    const auto wordChar = [&](size_t i) {
        return std::isalnum(static_cast<unsigned char>(message[i])) != 0;
    };
    for (size_t at = message.find(password); at != std::string::npos;
         at = message.find(password, at)) {
        const size_t end = at + password.size();
        if ((at == 0 || !wordChar(at - 1)) && (end == message.size() || !wordChar(end))) {
            message.replace(at, password.size(), "***");
            at += 3; // past the mask, which may itself hold the password's characters
        } else {
            ++at;
        }
    }
    return message;
}

bool WellFormedConnection(const std::string& connection, std::string& why) {
    bool named = false;
    size_t i = 0;
    while (i < connection.size()) {
        const size_t equals = connection.find('=', i);
        const size_t semicolon = connection.find(';', i);
        if (equals == std::string::npos || (semicolon != std::string::npos && semicolon < equals)) {
            const std::string piece = connection.substr(i, semicolon - i);
            if (piece.find_first_not_of(" \t") != std::string::npos) {
                why = "not a connection string: a part without KEY=VALUE";
                return false;
            }
            i = semicolon == std::string::npos ? connection.size() : semicolon + 1;
            continue;
        }
        std::string key;
        for (size_t k = i; k < equals; ++k)
            if (!std::isspace(static_cast<unsigned char>(connection[k])))
                key += char(std::toupper(static_cast<unsigned char>(connection[k])));
        if (key.empty()) {
            why = "not a connection string: a value without a key";
            return false;
        }
        named = named || key == "DSN" || key == "DRIVER" || key == "FILEDSN";
        size_t end = equals + 1;
        if (end < connection.size() && connection[end] == '{') {
            bool closed = false;
            for (++end; end < connection.size(); ++end)
                if (connection[end] == '}') {
                    if (end + 1 < connection.size() && connection[end + 1] == '}') {
                        ++end;
                        continue;
                    }
                    closed = true;
                    ++end;
                    break;
                }
            if (!closed) {
                why = "not a connection string: the value of " + key + " has no closing '}'";
                return false;
            }
            if (end < connection.size() && connection[end] != ';') {
                why = "not a connection string: text after the braces of " + key;
                return false;
            }
        }
        end = std::min(connection.find(';', end), connection.size());
        i = end + 1;
    }
    if (!named) {
        why = "not a connection string: it names no DSN= or Driver=";
        return false;
    }
    return true;
}

bool DbError::Setup() const {
    // IM: the driver manager's own (no DSN, no driver, a string it cannot read); 28: a login
    // refused; an empty state: a fault found before anything was opened.
    // unixODBC says "Can't open lib" (a driver not installed) as 01000, in its own words.
    // The PostgreSQL driver gives a refused password as 08001, a state a server that is away
    // also gives: its words tell them apart.
    return State.empty() || State.rfind("IM", 0) == 0 || State.rfind("28", 0) == 0 ||
           Message.find("[Driver Manager]") != std::string::npos ||
           Message.find("password authentication failed") != std::string::npos;
}

} // namespace station
