// POSIX backend of platform/registry.h: HKEY_LOCAL_MACHINE read from one .reg text file.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/codepage.h"
#include "platform/reg_file.h"
#include "platform/registry.h"

namespace em::platform {

namespace {

// A registry file larger than this is not a configuration file: it reads as empty.
constexpr size_t kMaxRegistryFile = 16u << 20;

// The parsed registry file, kept while the file stays the same: the trace facility opens keys
// inside trace calls and a file may be large.
struct Snapshot {
    std::string path;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    int64_t mtime_ns = 0;
    // A file changed within the last moments may change again within the same timestamp: its
    // bytes are kept and compared before the parse is reused.
    bool settled = false;
    std::string bytes;
    std::shared_ptr<const RegFile> file;
};

struct Cache {
    std::mutex mutex;
    Snapshot snap;
};

Cache& TheCache() {
    static Cache c;
    return c;
}

constexpr int64_t kSettleNs = 2'000'000'000;

int64_t Nanoseconds(const struct timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

bool ReadAll(int fd, std::string& bytes, size_t size) {
    bytes.resize(size);
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t r = read(fd, bytes.data() + got, bytes.size() - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    bytes.resize(got);
    return true;
}

// The parsed registry file. Returns kErrorSuccess with the file (empty when the file is missing
// or not a configuration file) or kErrorAccessDenied when it exists but cannot be read.
uint32_t LoadRegistryFile(std::shared_ptr<const RegFile>& out) {
    static const auto empty = std::make_shared<const RegFile>();
    out = empty;
    const std::string path = RegistryFilePath();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == EACCES || errno == EPERM ? kErrorAccessDenied : kErrorSuccess;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > kMaxRegistryFile) {
        close(fd);
        return kErrorSuccess;
    }
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    Snapshot& snap = cache.snap;
    const bool same_stat = snap.file && snap.path == path && snap.dev == st.st_dev && snap.ino == st.st_ino &&
                           snap.size == st.st_size && snap.mtime_ns == Nanoseconds(st.st_mtim);
    if (same_stat && snap.settled) {
        close(fd);
        out = snap.file;
        return kErrorSuccess;
    }
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    std::string bytes;
    ReadAll(fd, bytes, static_cast<size_t>(st.st_size));
    close(fd);
    if (!(same_stat && bytes == snap.bytes)) {
        auto file = std::make_shared<RegFile>();
        file->Parse(bytes);
        snap.file = std::move(file);
    }
    snap.path = path;
    snap.dev = st.st_dev;
    snap.ino = st.st_ino;
    snap.size = st.st_size;
    snap.mtime_ns = Nanoseconds(st.st_mtim);
    snap.settled = Nanoseconds(now) - snap.mtime_ns > kSettleNs;
    snap.bytes = snap.settled ? std::string() : std::move(bytes);
    out = snap.file;
    return kErrorSuccess;
}

}  // namespace

struct RegKey::Impl {
    std::map<std::u16string, RegValue> values;
};

RegKey::RegKey() = default;
RegKey::~RegKey() = default;

void RegKey::Close() { m_impl.reset(); }

uint32_t RegKey::Open(std::u16string_view path, RegView /*view: both views read the same file*/) {
    m_impl.reset();
    std::shared_ptr<const RegFile> file;
    if (uint32_t err = LoadRegistryFile(file); err != kErrorSuccess) return err;
    if (!file->HasKey(path)) return kErrorFileNotFound;
    auto impl = std::make_unique<Impl>();
    if (const auto* values = file->Values(path)) impl->values = *values;
    m_impl = std::move(impl);
    return kErrorSuccess;
}

uint32_t RegKey::QueryValue(std::u16string_view name, uint32_t* type, void* data, uint32_t* size) const {
    if (!m_impl) return kErrorInvalidHandle;
    return QueryFileValue(m_impl->values, name, type, data, size);
}

std::u16string ExpandEnvironmentStrings(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != u'%') {
            out.push_back(text[i++]);
            continue;
        }
        size_t close = text.find(u'%', i + 1);
        if (close == std::u16string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        std::u16string_view name = text.substr(i + 1, close - i - 1);
        const char* value = nullptr;
        if (!name.empty()) {
            std::string narrow = Utf16ToUtf8(name);
            if (narrow.find('=') == std::string::npos) value = std::getenv(narrow.c_str());
        }
        if (value) {
            out.append(Utf8ToUtf16(value));
            i = close + 1;
        } else {
            // Unknown: the '%' stays and the closing one may open the next reference.
            out.push_back(u'%');
            ++i;
        }
    }
    return out;
}

std::string RegistryFilePath() {
    if (std::string path = RegistryFileOverride(); !path.empty()) return path;
    const char* env = std::getenv(kRegistryFileVariable);
    return env && *env ? std::string(env) : std::string(kRegistryFileDefault);
}

}  // namespace em::platform
