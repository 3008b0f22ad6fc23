// The floor for inflating a package blob: read the file, one zlib uncompress into one buffer.
// Usage: bench_floor_inflate BLOB_FILE
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::FILE* file = std::fopen(argv[1], "rb");
  if (file == nullptr) return 1;
  std::vector<uint8_t> blob;
  uint8_t buffer[1 << 16];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) blob.insert(blob.end(), buffer, buffer + got);
  std::fclose(file);
  if (blob.size() < 24) return 1;
  uLongf size = blob[16] | blob[17] << 8 | blob[18] << 16 | static_cast<uLongf>(blob[19]) << 24;
  std::vector<uint8_t> out(size);
  return uncompress(out.data(), &size, blob.data() + 24, blob.size() - 24) == Z_OK ? 0 : 1;
}
