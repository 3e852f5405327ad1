// A file the box reports as stored must survive a power cut: after the rename that puts it in
// place, the folder holding it is flushed too. fsync is watched here for the whole program.
#include "base/atomic_file.h"
#include "comm/file_transfer.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace {
struct DirectorySync {
    dev_t dev;
    ino_t ino;
    off_t watchedSize; // size of the watched file at that moment, -1 when it did not exist
};
std::mutex g_mutex;
std::vector<DirectorySync> g_syncs;
std::string g_watched;
}

extern "C" int fsync(int fd)
{
    using Fsync = int (*)(int);
    static const Fsync real = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        std::lock_guard<std::mutex> lock(g_mutex);
        struct stat file;
        const off_t size = !g_watched.empty() && stat(g_watched.c_str(), &file) == 0 ? file.st_size : -1;
        g_syncs.push_back({st.st_dev, st.st_ino, size});
    }
    return real(fd);
}

namespace {

// The folder of `path` was flushed at a moment when `path` already held `size` bytes.
bool folderSyncedAfterRename(const std::string& path, off_t size)
{
    const std::string folder = path.substr(0, path.rfind('/'));
    struct stat dir;
    if (stat(folder.c_str(), &dir) != 0)
        return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const DirectorySync& s : g_syncs)
        if (s.dev == dir.st_dev && s.ino == dir.st_ino && s.watchedSize == size)
            return true;
    return false;
}

TEST(DurableRename, StoredFilesHaveTheirFolderFlushedAfterTheRename)
{
    const std::string name = "/data/configs/stored.bin";
    const std::vector<uint8_t> data(5000, 0x5A);
    const struct {
        const char* writer;
        std::function<bool()> write;
    } rows[] = {
        {"verified upload write", [&] { return file_transfer::writeVerified(name, data.data(), uint32_t(data.size())); }},
        {"atomic settings write",
         [&] { return writeFileAtomically(QString::fromStdString(name), QByteArray(5000, 0x5A)); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.writer);
        ASSERT_TRUE(TestRoot::writeFile(name, "old"));
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_syncs.clear();
            g_watched = TestRoot::path(name);
        }
        ASSERT_TRUE(row.write());
        EXPECT_TRUE(folderSyncedAfterRename(TestRoot::path(name), 5000));
        std::lock_guard<std::mutex> lock(g_mutex);
        g_watched.clear();
    }
}

}
