#pragma once
// Small file helpers over the platform's path resolution; paths may use '\' or '/'.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

bool FileExists(const std::string& path);
// Size in bytes, or -1 when the file cannot be examined.
int64_t FileSizeOf(const std::string& path);
// Reads at most maxBytes bytes from the start of the file; the buffer never
// grows beyond what the file holds. False when the file cannot be opened or read.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::size_t maxBytes);
// Exactly Size bytes from Offset into Data; false when the file holds fewer.
bool ReadFilePart(const std::string& path, uint64_t offset, void* data, std::size_t size);
// Appends text and CR LF, creating the file when it is missing.
bool AppendTextLine(const std::string& path, const std::string& text);
// Writes a temporary file beside the target, flushes it to disk and renames it
// over the target, so an interrupted write leaves the old file intact.
bool WriteFileReplacing(const std::string& path, const std::string& bytes);
bool DeleteFileAt(const std::string& path);
// Creates an empty file only this user can read, with a unique name in the
// temporary folder ($TMPDIR or /tmp); returns its native path, empty on failure.
std::string CreatePrivateTempFile(const std::string& prefix, const std::string& suffix);

// Reads a text file line by line; lines end in LF or CR LF. Lines longer than
// MaxLine are cut and the remainder skipped, so memory stays bounded.
class TTextFileReader {
public:
    static constexpr std::size_t kDefaultMaxLine = 64 * 1024;

    explicit TTextFileReader(std::size_t maxLine = kDefaultMaxLine);
    ~TTextFileReader();
    TTextFileReader(const TTextFileReader&) = delete;
    TTextFileReader& operator=(const TTextFileReader&) = delete;

    bool Open(const std::string& path);
    bool IsOpen() const { return FD >= 0; }
    // False at the end of the file (or on a read error).
    bool ReadLine(std::string& line);
    // True when the last line returned was cut to MaxLine characters.
    bool LineWasCut() const { return Cut; }
    void Close();

private:
    bool Fill();
    void Append(std::string& line, char c);

    int FD = -1;
    std::size_t MaxLine;
    std::vector<char> Buffer;
    std::size_t Pos = 0;
    std::size_t End = 0;
    bool AtEnd = false;
    bool Cut = false;
};
