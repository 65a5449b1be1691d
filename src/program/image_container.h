// What a packaged offload image holds: the image count, and per image index the auxiliary record
// (format and options) with the bytes of the image's section. Read from the container's notes and
// sections without copying the image.
#ifndef PROGRAM_IMAGE_CONTAINER_H
#define PROGRAM_IMAGE_CONTAINER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

// Formats of an auxiliary record.
enum : uint64_t { ImageFormatNative = 0, ImageFormatSPIRV = 1 };

struct ImageAuxInfo {
  uint64_t Format = 0;
  std::string CompileOptions;
  std::string LinkOptions;
  const void *Contents = nullptr; // inside the image; null when no section was found
  size_t Size = 0;
};

struct ImageContainer {
  uint64_t ImageCount = 0;
  std::unordered_map<uint64_t, ImageAuxInfo> Aux; // by image index
};

// True when the image's version note reads 1.0 (Major and Minor receive what the note holds).
bool getImageVersion(const void *Begin, const void *End, uint64_t &Major, uint64_t &Minor);

// Walks the notes and then the sections of a packaged image, with a debug warning for every
// record or section it skips.
void readImageContainer(const void *Begin, size_t Size, ImageContainer &Container);

#endif
