#include "frame/paramblock.h"

std::size_t TypeLetterSize(char letter) {
  switch (letter) {
    case 'c': return 1;
    case 'i': return 2;
    case 'l': return 4;
    case 'f': return 4;
    case 'd': return 8;
    case 'b': return 4;
    case 'h': return 4;
    case 's': return 256;
    default: return 0;
  }
}

std::size_t TypeStringSize(std::string_view typeString) {
  std::size_t total = 0;
  for (char letter : typeString) {
    std::size_t size = TypeLetterSize(letter);
    if (size == 0) return 0;
    total += size;
  }
  return total;
}
