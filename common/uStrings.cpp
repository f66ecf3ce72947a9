#include "common/uStrings.h"

#include <charconv>
#include <cfloat>
#include <cmath>

int32_t Min(int32_t a, int32_t b) { return b < a ? b : a; }
int32_t Max(int32_t a, int32_t b) { return b > a ? b : a; }
float MinF(float a, float b) { return b < a ? b : a; }
float MaxF(float a, float b) { return b > a ? b : a; }

namespace {

int DigitValue(char c, unsigned base)
{
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return (v >= 0 && static_cast<unsigned>(v) < base) ? v : -1;
}

std::size_t SkipBlanks(const std::string& text, std::size_t pos)
{
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    return pos;
}

}  // namespace

int32_t StrToIntVal(const std::string& text, std::size_t& consumed)
{
    std::size_t pos = SkipBlanks(text, 0);
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }
    unsigned base = 10;
    if (pos < text.size() && (text[pos] == '$' || text[pos] == 'x' || text[pos] == 'X')) {
        base = 16;
        pos += 1;
    } else if (pos + 1 < text.size() && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }
    // An unsigned accumulator makes overflow wrap instead of being undefined.
    uint32_t value = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = DigitValue(text[pos], base);
        if (digit < 0)
            break;
        value = value * base + static_cast<uint32_t>(digit);
    }
    consumed = pos;
    if (negative)
        value = 0u - value;
    return static_cast<int32_t>(value);
}

int32_t StrToIntVal(const std::string& text)
{
    std::size_t consumed = 0;
    return StrToIntVal(text, consumed);
}

long double StrToFloatVal(const std::string& text)
{
    std::size_t pos = SkipBlanks(text, 0);
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }
    // from_chars would take "inf", "nan" and a second sign; only digits or a point may follow here.
    if (pos >= text.size() || !(DigitValue(text[pos], 10) >= 0 || text[pos] == '.'))
        return 0.0L;
    long double value = 0.0L;
    const char* first = text.data() + pos;
    const auto result = std::from_chars(first, text.data() + text.size(), value, std::chars_format::general);
    if (result.ec != std::errc() || !std::isfinite(value) || std::fabs(value) > static_cast<long double>(DBL_MAX))
        return 0.0L;
    return negative ? -value : value;
}

bool StrToBool(const std::string& text)
{
    return text == "1" || LowerCaseAscii(text) == "true";
}

std::string IntToStr(int32_t value) { return std::to_string(value); }
std::string Int64ToStr(int64_t value) { return std::to_string(value); }

void ExtractToken(std::string& text, char separator, std::string& token)
{
    std::size_t start = 0;
    while (start < text.size() && text[start] == separator)
        ++start;
    const std::size_t end = text.find(separator, start);
    if (end == std::string::npos) {
        token = text.substr(start);
        text.clear();
        return;
    }
    token = text.substr(start, end - start);
    text.erase(0, end + 1);
}

int32_t CountChar(const std::string& text, char c)
{
    int32_t count = 0;
    for (char x : text)
        count += x == c;
    return count;
}

void RemoveChar(char c, std::string& text)
{
    std::erase(text, c);
}

std::string PadRight(int32_t width, char fill, const std::string& text)
{
    std::string result = text;
    if (width > 0 && result.size() < static_cast<std::size_t>(width))
        result.append(static_cast<std::size_t>(width) - result.size(), fill);
    return result;
}

bool IsCommentLine(const std::string& line)
{
    return line.empty() || line[0] == ';' || (line.size() >= 2 && line[0] == '/' && line[1] == '/');
}

std::string TrimBlanks(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    const std::size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

int64_t HexToInt(const std::string& text)
{
    uint64_t value = 0;
    for (char c : text) {
        const int digit = DigitValue(c, 16);
        if (digit < 0)
            break;
        value = (value << 4) | static_cast<uint64_t>(digit);
    }
    return static_cast<int64_t>(value);
}

std::string LowerCaseAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}
