#pragma once
// The options record, its file, and the data folder.

#include <cstdint>
#include <string>

struct TOptions {
    int32_t Preset;
    bool Windowed;
    int32_t Width;
    int32_t Height;
    int32_t HalfWidth;
    int32_t HalfHeight;
    int32_t Format;
    int32_t RefreshRate;
    bool WindowBorder;
    bool VSync;
    bool SoundEnabled;
    bool WaitGPU;
    bool AdvancedOpt;
    int32_t SpiralType;
    int32_t SpiralCount;
    int32_t BlendMode;
};

extern TOptions Options;
extern std::string DataDir;
extern std::string OptionsPath;

extern const char* const DataPathKey;    // under HKEY_LOCAL_MACHINE
extern const char* const DataPathValue;  // "DataPath"

std::string GetDataDir();
// Process initialisation: DataDir from the registry, OptionsPath below it.
void InitDataPaths();
// False when there is no options file (Options is then left untouched).
bool LoadOptions();
// Replaces the file as a whole; false (and an error report) when it could not be written.
bool SaveOptions();
// The file's text for the current record.
std::string FormatOptions(const TOptions& options);
