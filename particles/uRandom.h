// The program's one pseudo-random generator. Every random draw of the scene
// (births, spiral paths, palette phases, texture dithering) goes through it,
// so one seed reproduces a whole run.
#pragma once

#include <cstdint>

// Restarts the sequence; the same seed gives the same draws.
void RandSeed(uint64_t Seed);

// Seeds from the performance counter (the scene does this once when it starts).
void Randomize();

// Uniform float in [0, 1).
float Random();

// Uniform integer in [0, N); 0 when N is not positive.
int32_t Random(int32_t N);
