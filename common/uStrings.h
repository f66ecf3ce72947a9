#pragma once
// Number and text readers shared by every text file of the system.

#include <cstddef>
#include <cstdint>
#include <string>

int32_t Min(int32_t a, int32_t b);
int32_t Max(int32_t a, int32_t b);
float MinF(float a, float b);
float MaxF(float a, float b);

// Decimal, or hexadecimal after "$", "x", "X", "0x", "0X"; stops at the first
// character that is not a digit. Out-of-range values wrap modulo 2^32.
int32_t StrToIntVal(const std::string& text);
// As above; Consumed receives how many characters of Text were read.
int32_t StrToIntVal(const std::string& text, std::size_t& consumed);

// Locale-independent; malformed text gives the value of its longest valid
// prefix, non-finite or out-of-range results give 0.
long double StrToFloatVal(const std::string& text);

bool StrToBool(const std::string& text);
std::string IntToStr(int32_t value);
std::string Int64ToStr(int64_t value);

void ExtractToken(std::string& text, char separator, std::string& token);
int32_t CountChar(const std::string& text, char c);
void RemoveChar(char c, std::string& text);
std::string PadRight(int32_t width, char fill, const std::string& text);
bool IsCommentLine(const std::string& line);
std::string TrimBlanks(const std::string& text);

// Unsigned hexadecimal without prefix; stops at the first non-hex character.
int64_t HexToInt(const std::string& text);

std::string LowerCaseAscii(std::string text);
