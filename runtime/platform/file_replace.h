// Writing the whole content of a file so that a failure never costs the old
// content.
//
// A regular file, or a name where nothing is yet, is written to a temporary
// file in the same folder, which replaces the target by a rename once every
// byte is on the disk: a write that fails or is cut short (a full disk, a
// size limit, a killed process) leaves the target as it was, byte for byte,
// and no partial new file. The new file keeps the old one's permission bits
// (and its owner, where the system allows); a symbolic link is followed, so
// the file it names is replaced and the link stays. Anything else (a FIFO, a
// device, a terminal, a name under /dev or /proc such as /dev/stdout) is
// emptied and written in place, as is a writable file whose folder refuses
// new files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kem::platform {

class WholeFileWrite {
public:
    explicit WholeFileWrite(const std::string& path);
    WholeFileWrite(const WholeFileWrite&) = delete;
    WholeFileWrite& operator=(const WholeFileWrite&) = delete;
    // A write that was not committed is dropped: the temporary file goes.
    ~WholeFileWrite();
    // -1 when the target cannot be written (a folder, a missing folder, no
    // permission).
    int fd() const { return fd_; }
    // Once every byte is written: puts them on the disk and the file in
    // place. False when any step fails; the target is then as it was.
    bool commit();

private:
    int fd_ = -1;
    std::string target_;  // empty: written in place
    std::string temp_;
};

// The same replacement for a signal handler, which may not allocate: the
// names are chosen beforehand, and replace_file makes only calls a signal
// handler may make. nullopt when the path is no file that can be replaced.
struct ReplacementNames {
    std::string target;  // symbolic links followed
    std::string temp;
};
std::optional<ReplacementNames> replacement_names(const std::string& path);
bool replace_file(const char* target, const char* temp, const uint8_t* data, size_t count);

} // namespace kem::platform
