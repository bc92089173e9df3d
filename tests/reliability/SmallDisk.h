#pragma once
// A small tmpfs that a test mounts on a folder of its own and always unmounts, so that a full
// disk can be met without touching the machine's own file systems.
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace reliability_test {

class SmallDisk {
 public:
  // size as mount(8) takes it ("2m").
  SmallDisk(const std::string& folder, const std::string& size) : m_folder(folder) {
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    const std::string options = "size=" + size + ",mode=0700";
    m_mounted = geteuid() == 0 && ::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (m_mounted) ::umount2(m_folder.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return m_mounted; }
  std::string File(const std::string& name) const { return m_folder + "/" + name; }

  // Writes a file until the disk refuses more; its length.
  std::uint64_t Fill(const std::string& name) const {
    std::FILE* out = std::fopen(File(name).c_str(), "wb");
    if (out == nullptr) return 0;
    std::setvbuf(out, nullptr, _IONBF, 0);
    const std::vector<char> chunk(4096, 'f');
    std::uint64_t written = 0;
    while (std::fwrite(chunk.data(), 1, chunk.size(), out) == chunk.size()) written += chunk.size();
    std::fclose(out);
    return written;
  }

 private:
  std::string m_folder;
  bool m_mounted = false;
};

}  // namespace reliability_test
