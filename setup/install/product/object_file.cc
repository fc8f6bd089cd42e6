/*
 * object_file.cc - an ELF relocatable object told by its header.
 */
#include "object_file.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace {

using Header = ElfW(Ehdr);
using SectionHeader = ElfW(Shdr);

constexpr unsigned char kClass = __ELF_NATIVE_CLASS == 64 ? ELFCLASS64 : ELFCLASS32;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kByteOrder = ELFDATA2LSB;
#else
constexpr unsigned char kByteOrder = ELFDATA2MSB;
#endif

// What the header says, checked against the file's size.
bool relocatable(const Header &header, std::uintmax_t size) {
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != kClass ||
      header.e_ident[EI_DATA] != kByteOrder || header.e_ident[EI_VERSION] != EV_CURRENT ||
      header.e_type != ET_REL || header.e_ehsize != sizeof(Header))
    return false;
  if (header.e_shnum == 0) return true;
  if (header.e_shentsize != sizeof(SectionHeader)) return false;
  const std::uintmax_t table = static_cast<std::uintmax_t>(header.e_shnum) * header.e_shentsize;
  return header.e_shoff >= sizeof(Header) && header.e_shoff <= size &&
         table <= size - header.e_shoff;
}

}  // namespace

bool IsRelocatableObject(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  Header header;
  const bool read = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    pread(fd, &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
  close(fd);
  return read && relocatable(header, static_cast<std::uintmax_t>(st.st_size));
}
