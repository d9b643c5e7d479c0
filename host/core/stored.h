// The stored forms of what the host keeps between runs, read as outside data: the file of
// a parameter block, and wave data on the clipboard. Standard C++ over the frame's records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tovrel::host {

// The stored form of a parameter block, and its reading: nothing, with the reason, when
// the bytes are not a whole block of this type string and size, or a field does not read
// as its letter says (a number that is not finite, a text without its end).
std::vector<uint8_t> BlockFileImage(const std::string& typeString, const std::vector<uint8_t>& block);
std::optional<std::vector<uint8_t>> ReadBlockFile(const std::vector<uint8_t>& file, const std::string& typeString,
                                                  std::size_t size, std::string& problem);

// What is wrong with wave data on the clipboard (its canonical header, its data); empty
// when nothing is. Other sample widths than 16 bits are not damage.
std::string WaveDamage(const std::vector<uint8_t>& image);

}  // namespace tovrel::host
