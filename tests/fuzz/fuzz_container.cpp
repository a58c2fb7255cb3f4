// The container reader meets files anyone could have made. Whatever the bytes, reading them either
// fails with the container's own exception and leaves the output file as it was, or gives exactly
// the size the header promised, the same in memory, through streams and through files. And
// whatever bytes are packed, every mode gives them back unchanged.
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "codec/lzrw1.h"
#include "stats/tallyfile.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

namespace fs = std::filesystem;

const std::string kEarlier = "an earlier output the reader must not harm";

std::optional<std::string> decompressmemory(const std::string& container) {
  try {
    const codec::Bytes bytes = codec::unpack(codec::asbytes(container));
    return std::string(bytes.begin(), bytes.end());
  } catch (const ELzrw1Exception&) {
    return std::nullopt;
  }
}

// The stream layer reads a container the way the tally tool and the tally file do.
std::optional<std::string> decompressstream(const std::string& container) {
  std::istringstream in(container);
  try {
    const codec::Bytes bytes = codec::unpack(in);
    return std::string(bytes.begin(), bytes.end());
  } catch (const ELzrw1Exception&) {
    return std::nullopt;
  }
}

std::string compressmemory(const std::string& data, TCompressMode mode) {
  const codec::Bytes bytes = codec::pack(codec::asbytes(data), mode);
  return std::string(bytes.begin(), bytes.end());
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void spill(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  FUZZ_CHECK(out.good());
}

// The same container read from a file onto an output file that already holds something.
std::optional<std::string> decompressfile(const std::string& container) {
  const fs::path in = fuzz::scratch() / "pipshifttally.tld";
  const fs::path out = fuzz::scratch() / "table.txt";
  spill(in, container);
  spill(out, kEarlier);
  Tlzrw1 doit;
  doit.InputFile = in.string();
  doit.OutputFile = out.string();
  std::optional<std::string> result;
  try {
    const std::uint64_t written = doit.Decompress();
    result = slurp(out);
    FUZZ_CHECK(written == result->size());
  } catch (const ELzrw1Exception& e) {
    // A failure names something and leaves the earlier file exactly as it was.
    FUZZ_CHECK(std::strlen(e.what()) > 0);
    FUZZ_CHECK(slurp(out) == kEarlier);
  }
  // Nothing half-written is left lying beside the output.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(fuzz::scratch())) ++entries;
  FUZZ_CHECK(entries == 2);
  return result;
}

std::uint32_t declaredsize(const std::string& container) {
  std::uint32_t size = 0;
  for (int i = 0; i < 4; ++i)
    size |= std::uint32_t{static_cast<std::uint8_t>(container[4 + i])} << (8 * i);
  return size;
}

void roundtrip(const std::string& data, TCompressMode mode) {
  const std::string container = compressmemory(data, mode);
  FUZZ_CHECK(container.size() >= 8);
  FUZZ_CHECK(declaredsize(container) == data.size());
  if (mode == TCompressMode::Fast) {
    FUZZ_CHECK(container.compare(0, 4, "WRZL") == 0);
    // Stored blocks bound the growth: a length and a flag byte per 32768-byte chunk.
    FUZZ_CHECK(container.size() <= 8 + data.size() + 3 * (data.size() / 32768 + 1));
  }
  const std::optional<std::string> back = decompressmemory(container);
  FUZZ_CHECK(back.has_value());
  FUZZ_CHECK(*back == data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  // As a container: in memory, from a stream and from a file, with the same outcome.
  const std::optional<std::string> frommemory = decompressmemory(bytes);
  const std::optional<std::string> fromstream = decompressstream(bytes);
  const std::optional<std::string> fromfile = decompressfile(bytes);
  FUZZ_CHECK(frommemory == fromstream);
  FUZZ_CHECK(fromstream.has_value() == fromfile.has_value());
  if (fromstream) {
    FUZZ_CHECK(*fromstream == *fromfile);
    FUZZ_CHECK(size >= 8);
    FUZZ_CHECK(bytes.compare(0, 4, "WRZL") == 0 || bytes.compare(0, 4, "!HZL") == 0);
    FUZZ_CHECK(fromstream->size() == declaredsize(bytes));
  }

  // As the tally file the tally window reads at start: it loads or fails with a message and the
  // table untouched, and whatever loads can be saved and reads back alike.
  const fs::path tally = fuzz::scratch() / "pipshifttally.tld";
  const fs::path saved = fuzz::scratch() / "saved.tld";
  TextTable grid(1, 1);
  grid.setCell(0, 0, "before");
  const TextTable before = grid;
  std::string error;
  switch (loadtallyfile(tally.string(), grid, &error)) {
    case TallyLoad::Missing:
      FUZZ_CHECK(false);
      break;
    case TallyLoad::Failed:
      FUZZ_CHECK(!error.empty());
      FUZZ_CHECK(grid == before);
      break;
    case TallyLoad::Loaded: {
      FUZZ_CHECK(fromstream.has_value());
      FUZZ_CHECK(savetallyfile(saved.string(), grid, &error));
      TextTable again;
      FUZZ_CHECK(loadtallyfile(saved.string(), again) == TallyLoad::Loaded);
      FUZZ_CHECK(again == grid);
      fs::remove(saved);
      break;
    }
  }

  // As data to pack, in every mode.
  // (Auto mode gives inputs this small to Good mode, so it is tried on a large one only.)
  roundtrip(bytes, TCompressMode::Fast);
  roundtrip(bytes, TCompressMode::Good);
  // Auto mode samples only inputs beyond 96 KiB; now and then make one from this input.
  if (size > 0 && data[0] == 0xA5) {
    std::string large;
    while (large.size() <= 98304 + 32768) large += bytes;
    roundtrip(large, TCompressMode::Auto);
  }
  return 0;
}
