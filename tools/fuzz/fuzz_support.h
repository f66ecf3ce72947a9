#pragma once
// Shared set-up of the fuzz targets: a private scratch folder, files written from the input,
// and a quiet debug channel so reports cost nothing.
#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {
// The scratch folder (created once, below /dev/shm when it exists).
const std::string& Scratch();
// Writes the input to a file in the scratch folder and returns its path.
std::string WriteInput(const std::string& name, const std::uint8_t* data, std::size_t size);
// Points the data folder, the registry and the home folders into the scratch folder and
// keeps error reports away from the monitor program.
void Isolate();
}  // namespace fuzz
