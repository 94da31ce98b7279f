#include "base/GbkText.h"

#include <cerrno>
#include <iconv.h>

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD

class Converter {
  public:
    Converter(const char* to, const char* from) : handle_(::iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) ::iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return handle_; }

  private:
    iconv_t handle_;
};

// Runs the whole input through the converter in 256-byte pieces. An input byte the converter
// cannot take either ends the conversion (false) or, with markInvalid, becomes U+FFFD and is
// skipped.
bool ConvertAll(const Converter& converter, const char* data, size_t length, std::string& out,
                bool markInvalid) {
    char* in = const_cast<char*>(data);
    size_t inLeft = length;
    char buffer[256];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = ::iconv(converter.get(), &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, size_t(outPtr - buffer));
        if (result != size_t(-1) || errno == E2BIG) continue;
        if (!markInvalid) return false;
        // EILSEQ (not GBK) or EINVAL (a lead byte cut off at the end): mark and skip one byte.
        out += kReplacement;
        ++in;
        --inLeft;
        ::iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
    }
    return true;
}

} // namespace

std::string GbkToUtf8(const uint8_t* bytes, size_t length) {
    std::string out;
    Converter converter("UTF-8", "GBK");
    if (!converter.ok()) {
        // Without the converter keep ASCII and mark the rest, rather than show nothing.
        for (size_t i = 0; i < length; ++i)
            out += bytes[i] < 0x80 ? std::string(1, char(bytes[i])) : std::string(kReplacement);
        return out;
    }
    ConvertAll(converter, reinterpret_cast<const char*>(bytes), length, out, true);
    return out;
}

std::optional<std::string> Utf8ToGbk(const std::string& text) {
    Converter converter("GBK", "UTF-8");
    if (!converter.ok()) return std::nullopt;
    std::string out;
    if (!ConvertAll(converter, text.data(), text.size(), out, false)) return std::nullopt;
    return out;
}

std::optional<std::string> Gb18030ToUtf8(const std::string& text) {
    Converter converter("UTF-8", "GB18030");
    std::string out;
    if (!converter.ok() || !ConvertAll(converter, text.data(), text.size(), out, false))
        return std::nullopt;
    return out;
}
