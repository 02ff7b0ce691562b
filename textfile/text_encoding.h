// How a text is written: its character set and the line end that each CR LF
// of it becomes, as typed values, and the one-pass conversions of UTF-16
// text into the bytes of a file that do both at once.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// Character-set indices shared with the conversion job.
enum { ENC_UTF8 = 0, ENC_ANSI = 1, ENC_UNICODE = 2 };

// The character set of a text file; the values are the indices above.
enum class CharacterSet { Utf8 = ENC_UTF8, Ansi = ENC_ANSI, Unicode = ENC_UNICODE };

// The line end that each CR LF of a text becomes when it is written.
enum class LineEnding { Windows, Unix, Mac };

// The unit that replaces a CR LF pair: LF (Unix), CR (Mac), or none for
// Windows, whose CR LF stays as it is.
std::optional<char16_t> NewlineOf(LineEnding lineEnding);

// Writes the UTF-8 form of text to out, which has room for 3 bytes per
// unit, and returns the bytes written. With a newline, each CR LF becomes
// that one unit. An unpaired surrogate becomes U+FFFD; a NUL unit is a NUL
// byte.
size_t EncodeUtf8(std::u16string_view text, std::optional<char16_t> newline, char* out);

// Copies text to out (room for text.size() units), each CR LF turned into
// newline; returns the units written.
size_t ReplaceLineEnds(std::u16string_view text, char16_t newline, char16_t* out);
