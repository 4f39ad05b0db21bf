// This host process's status file in the driverName folder. Each write
// makes a new file and moves it over the old one, so that a reader finds the
// last whole report or the one before, never half of one.
#ifndef VARNEX_STATUS_STATUS_FILE_H
#define VARNEX_STATUS_STATUS_FILE_H

#include <cstdint>
#include <string>

namespace varnex {

class StatusFile {
public:
    // `folder` as driverName gives it, with its closing separator.
    StatusFile(const std::string &folder, uint32_t pid);
    StatusFile(const StatusFile &) = delete;
    StatusFile &operator=(const StatusFile &) = delete;

    // False when it could not be replaced now (a reader holds it without
    // delete sharing, the folder is gone): the next write tries again.
    bool write(const std::string &text) noexcept;
    void remove() noexcept;
    const std::string &path() const { return path_; }

private:
    std::string path_, temporary_;
};

}  // namespace varnex

#endif
