#include "receive/DumpFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

namespace {

// The umask without changing it (another thread may create files meanwhile).
mode_t CurrentUmask() {
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        unsigned int mask = 0;
        bool found = false;
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "Umask: %o", &mask) == 1) {
                found = true;
                break;
            }
        std::fclose(status);
        if (found) return static_cast<mode_t>(mask);
    }
    const mode_t mask = umask(022);
    umask(mask);
    return mask;
}

// The mode the saved file should have: the old file's, or that of a new file.
mode_t TargetMode(const std::string& target) {
    struct stat st {};
    if (stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
    return 0666 & ~CurrentUmask();
}

// Makes the rename itself survive a crash; the file is saved either way.
void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

bool WriteAll(FILE* stream, const unsigned char* data, std::size_t size) {
    if (size > 0 && std::fwrite(data, 1, size, stream) != size) return false;
    if (std::fflush(stream) != 0) return false;
    return fsync(fileno(stream)) == 0;
}

// The file a name stands for: where a link points, also when nothing is
// there yet (then the target is made, as opening the link for writing would).
QFileInfo TargetOf(const QString& path) {
    QFileInfo info(path);
    for (int hops = 0; hops < 40 && info.isSymLink(); ++hops) info = QFileInfo(info.symLinkTarget());
    return info;
}

}  // namespace

DumpWrite WriteDumpFile(const QString& path, const unsigned char* data, std::size_t size) {
    const QFileInfo info = TargetOf(path);
    const std::string target = QFile::encodeName(info.absoluteFilePath()).toStdString();
    const std::string folder = QFile::encodeName(info.absolutePath()).toStdString();

    // A short name of its own, so that any name the folder takes can be saved.
    std::string temp = folder + "/.zux-XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return DumpWrite::CannotOpen;
    FILE* stream = fdopen(fd, "wb");
    if (!stream) {
        close(fd);
        unlink(temp.c_str());
        return DumpWrite::CannotOpen;
    }

    // Some file systems (FAT sticks) refuse modes; the dump matters more.
    fchmod(fd, TargetMode(target));
    bool ok = WriteAll(stream, data, size);
    ok = (std::fclose(stream) == 0) && ok;
    if (!ok) {
        unlink(temp.c_str());
        return DumpWrite::CannotMake;
    }
    if (std::rename(temp.c_str(), target.c_str()) != 0) {
        // The name itself is refused (too long, a folder, not ours to
        // replace): as if it could not be opened.
        const int err = errno;
        unlink(temp.c_str());
        switch (err) {
        case ENAMETOOLONG: case EISDIR: case ENOTDIR: case EACCES: case EPERM: case EROFS: case ENOENT:
        case EINVAL: case EBUSY: return DumpWrite::CannotOpen;
        default: return DumpWrite::CannotMake;
        }
    }
    SyncFolder(folder);
    return DumpWrite::Saved;
}
