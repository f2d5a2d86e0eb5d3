#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/AtomicFile.h"

namespace korvane::platform {

// How a text file was stored, so it can be written back the same way.
enum class TextEncoding {
    Cp1251,   // no mark, the Cyrillic single-byte code page
    Utf8,     // no mark, valid UTF-8 with non-ASCII bytes (as Linux editors write)
    Utf8Bom,  // EF BB BF
    Utf16LE,  // FF FE
    Utf16BE,  // FE FF
};

struct TextFile {
    std::vector<std::string> lines;  // UTF-8, without line ends
    TextEncoding encoding = TextEncoding::Cp1251;
};

struct TextReadResult {
    bool ok = false;
    TextFile file;
    std::string error;  // the system's reason when !ok
};

// Decodes bytes: a byte-order mark names the encoding; without one, valid
// UTF-8 that holds non-ASCII bytes is UTF-8 and anything else CP1251. Lines
// end at CR LF, LF or CR; a final line end adds no empty line.
TextReadResult DecodeText(const std::string& bytes);
TextReadResult ReadTextFile(const std::string& path);

// Encodes the lines, each ended by CR LF, with the encoding's mark. Fails
// (with a reason naming the line) when a character has no CP1251 form.
bool EncodeText(const TextFile& file, std::string& bytes, std::string& error);
// Writes through a temporary file and a rename, so a crash never leaves a
// half-written file. On failure the old file is untouched.
bool WriteTextFile(const std::string& path, const TextFile& file, std::string& error);

// Reads a whole file (binary data).
bool ReadBinaryFile(const std::string& path, std::string& bytes, std::string& error);

// Keys compared without regard to letter case (Latin and Cyrillic, UTF-8);
// bytes that are not UTF-8 compare as themselves.
bool SameKeyText(std::string_view a, std::string_view b);

// The system's reason for an error number, in Russian for the common cases.
std::string SystemReason(int err);

// Single conversions between UTF-8 and CP1251 (used by other file formats).
bool Cp1251ToUtf8(const std::string& in, std::string& out);
bool Utf8ToCp1251(const std::string& in, std::string& out);

}  // namespace korvane::platform
