// What every fuzz target shares: its input function, its built-in seeds and, without libFuzzer, a
// plain main that replays them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

using FuzzInput = std::vector<std::uint8_t>;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

/// The target's built-in seeds: the vectors its unit tests use (a target without them need not
/// define it).
std::vector<FuzzInput> fuzzSeeds();
