#pragma once

#include <cstdint>

// The program's one pseudo-random generator. Every part that needs chance (random watermark
// positions, the text engine's spray and noise) draws from it, so that a seed set here makes the
// whole program repeatable. A 32-bit linear congruential generator:
//   seed := seed * 134775813 + 1 (mod 2^32);  RandomInt(n) = (seed * n) >> 32.
// Safe to call from several threads (the state is guarded); the draws are then interleaved.

// A uniform whole number in 0 .. n-1; 0 when n <= 0.
int RandomInt(int n);

// Reseeds the generator from the clock.
void Randomize();

// Sets the seed (tests and reproducible runs).
void SetRandomSeed(std::uint32_t seed);
std::uint32_t RandomSeed();
