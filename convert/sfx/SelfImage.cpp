#include "convert/sfx/SelfImage.h"

#include <elf.h>

#include <algorithm>
#include <vector>

#include "engine/BufferStream.h"
#include "engine/Errors.h"

namespace quelt::sfx {

namespace {

template <class Ehdr, class Phdr, class Shdr>
std::optional<int64_t> imageSize(TFileStream& f) {
  Ehdr eh;
  f.Seek(0, soFromBeginning);
  if (!f.ReadExact(&eh, sizeof eh)) return std::nullopt;
  const uint64_t fileSize = uint64_t(f.Size());
  uint64_t end = sizeof eh;
  const uint64_t phEnd = uint64_t(eh.e_phoff) + uint64_t(eh.e_phnum) * eh.e_phentsize;
  const uint64_t shEnd = uint64_t(eh.e_shoff) + uint64_t(eh.e_shnum) * eh.e_shentsize;
  if (phEnd > fileSize || shEnd > fileSize) return std::nullopt;
  end = std::max({end, phEnd, shEnd});
  if (eh.e_phentsize >= sizeof(Phdr)) {
    for (unsigned i = 0; i < eh.e_phnum; ++i) {
      Phdr ph;
      f.Seek(int64_t(eh.e_phoff + uint64_t(i) * eh.e_phentsize), soFromBeginning);
      if (!f.ReadExact(&ph, sizeof ph)) return std::nullopt;
      end = std::max<uint64_t>(end, uint64_t(ph.p_offset) + ph.p_filesz);
    }
  }
  if (eh.e_shentsize >= sizeof(Shdr)) {
    for (unsigned i = 0; i < eh.e_shnum; ++i) {
      Shdr sh;
      f.Seek(int64_t(eh.e_shoff + uint64_t(i) * eh.e_shentsize), soFromBeginning);
      if (!f.ReadExact(&sh, sizeof sh)) return std::nullopt;
      if (sh.sh_type != SHT_NOBITS)
        end = std::max<uint64_t>(end, uint64_t(sh.sh_offset) + sh.sh_size);
    }
  }
  if (end > fileSize) return std::nullopt;
  return int64_t(end);
}

}  // namespace

std::optional<int64_t> ElfImageSize(const std::string& path) {
  try {
    TFileStream f(path, TOpenMode::Read);
    unsigned char ident[EI_NIDENT];
    if (!f.ReadExact(ident, sizeof ident) || ident[EI_MAG0] != ELFMAG0 ||
        ident[EI_MAG1] != ELFMAG1 || ident[EI_MAG2] != ELFMAG2 || ident[EI_MAG3] != ELFMAG3)
      return std::nullopt;
    if (ident[EI_CLASS] == ELFCLASS64) return imageSize<Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr>(f);
    if (ident[EI_CLASS] == ELFCLASS32) return imageSize<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr>(f);
  } catch (const EZipError&) {
  }
  return std::nullopt;
}

std::optional<TSelfImage> ReadSelfImage(const std::string& path) {
  std::optional<int64_t> size = ElfImageSize(path);
  if (!size) return std::nullopt;
  try {
    TFileStream f(path, TOpenMode::Read);
    uint8_t bytes[kSFXRecordSize];
    f.Seek(*size, soFromBeginning);
    if (!f.ReadExact(bytes, sizeof bytes)) return std::nullopt;
    std::optional<TSFXRecord> record = ParseSFXRecord(bytes, sizeof bytes);
    if (!record) return std::nullopt;
    return TSelfImage{*size, *record};
  } catch (const EZipError&) {
    return std::nullopt;
  }
}

}  // namespace quelt::sfx
