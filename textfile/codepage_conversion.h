// Whole-text conversions between UTF-16 and a code page, as the encoded
// text file uses them. A code page of -1 stands for the ANSI code page of
// the moment (GetACP); UTF-8 (65001) converts without flags, every other
// code page composes base + combining mark where it has the precomposed
// character and writes "?" for a character that it lacks.
#pragma once

// Bytes needed for text in the code page, terminator included; 0 on failure.
int WideToMultiByteSize(const char16_t* text, int codePage);
// Clears outBytes bytes of out and converts text into it; the bytes
// written, terminator excluded; 0 when text or out is null, outBytes <= 0,
// or the conversion fails.
int WideToMultiByte(const char16_t* text, char* out, int outBytes, int codePage);
// UTF-16 units needed for text, terminator included; 0 when text is null
// or on failure.
int MultiByteToWideSize(const char* text, int codePage);
// Clears outUnits units of out and converts text into it; the units
// written, terminator excluded; 0 when text or out is null, outUnits <= 0,
// or the conversion fails.
int MultiByteToWide(const char* text, char16_t* out, int outUnits, int codePage);
